#include "http/TNetHTTPResponseInfo.h"

#include "http/NetHTTPExceptions.h"
#include "tcp/TNetTCPConnection.h"

#include <map>

std::string StatusTextOf(int ACode) {
    static const std::map<int, std::string> phrases = {
        {200, "OK"},
        {201, "Created"},
        {202, "Accepted"},
        {203, "Non-authoritative Information"},
        {204, "No Content"},
        {205, "Reset Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Moved Temporarily"},
        {303, "See Other"},
        {304, "Not Modified"},
        {305, "Use Proxy"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method not allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Request Entity To Long"},
        {414, "Request-URI Too Long. 256 Chars max"},
        {415, "Unsupported Media Type"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway timeout"},
        {505, "HTTP version not supported"},
    };
    const auto it = phrases.find(ACode);
    return it == phrases.end() ? "Unknown Response Code" : it->second;
}

long long StreamSize(std::istream& AStream) {
    AStream.clear();
    AStream.seekg(0, std::ios::end);
    const std::streamoff size = AStream.tellg();
    AStream.seekg(0, std::ios::beg);
    return size > 0 ? static_cast<long long>(size) : 0;
}

TNetHTTPResponseInfo::TNetHTTPResponseInfo(TNetTCPConnection* AConnection)
    : Connection(AConnection) {
    Headers.SetFoldLines(false);
    SetStatusCode(200);
}

void TNetHTTPResponseInfo::SetStatusCode(int ACode) {
    StatusCode = ACode;
    StatusText = StatusTextOf(ACode);
}

// Server, Content-Type, Content-Length and the challenge, each replacing a line of that name.
void TNetHTTPResponseInfo::PrepareHeaders() {
    Headers.AssignValue("Server", ServerSoftware);
    Headers.AssignValue("Content-Type", ContentType);
    if (ContentLength == -1) {
        if (!ContentText.empty())
            ContentLength = static_cast<long long>(ContentText.size());
        else if (ContentStream)
            ContentLength = StreamSize(*ContentStream);
    }
    if (ContentLength >= 0)
        Headers.AssignValue("Content-Length", std::to_string(ContentLength));
    if (!AuthRealm.empty()) {
        SetStatusCode(401);
        Headers.AssignValue("WWW-Authenticate", "Basic realm=\"" + AuthRealm + "\"");
    }
}

std::string TNetHTTPResponseInfo::HeaderBlock(std::size_t ARoom) const {
    const std::string status = std::to_string(StatusCode);
    std::string block;
    block.reserve(9 + status.size() + 1 + StatusText.size() + 4 + Headers.TextSize() + ARoom);
    block.append("HTTP/1.1 ").append(status).append(" ").append(StatusText).append("\r\n");
    for (int i = 0; i < Cookies.Count(); ++i)
        block.append("Set-Cookie: ").append(Cookies.Items(i).CookieText()).append("\r\n");
    Headers.AppendText(block);
    block += "\r\n";
    return block;
}

void TNetHTTPResponseInfo::WriteHeader() {
    WriteHeader(std::string());
}

// The whole block is built first and goes in one send: a line at a time cost a check of the
// connection per line, and a batch buffer of its own.
void TNetHTTPResponseInfo::WriteHeader(const std::string& ABody) {
    if (HeaderWritten)
        throw ENetHTTPHeaderAlreadyWritten();
    HeaderWritten = true;
    PrepareHeaders();
    std::string block = HeaderBlock(ABody.size());
    block += ABody;
    Connection->SendText(block);
}

void TNetHTTPResponseInfo::Finish(bool AHead) {
    if (Finished)
        return;
    if (!HeaderWritten)
        WriteHeader();
    // A HEAD answer has no body; its header block (with the length a GET would get) stays.
    if (!AHead && (!ContentText.empty() || ContentStream))
        WriteContent();
    Finished = true;
}

void TNetHTTPResponseInfo::WriteContent() {
    if (!ContentText.empty()) {
        Connection->SendText(ContentText);
        ContentText.clear();
    } else if (ContentStream) {
        Connection->SendStream(*ContentStream, true, false);
    } else {
        Connection->SendLine("<HTML><BODY><B>" + std::to_string(StatusCode) + " " + StatusText +
                             "</B></BODY></HTML>");
    }
}
