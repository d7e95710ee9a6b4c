#include "http/TNetHTTPRequestInfo.h"

#include "http/NetHTTPExceptions.h"
#include "http/NetHTTPText.h"
#include "http/TNetBase64Decoder.h"

void ParseRequestLine(std::string_view ALine, std::string& ACommand, std::string& ATarget,
                      std::string& AVersion) {
    const size_t lastBlank = ALine.rfind(' ');
    if (lastBlank == std::string_view::npos)
        throw ENetHTTPErrorParsingCommand();
    AVersion = ALine.substr(lastBlank + 1);
    std::string rest(ALine.substr(0, lastBlank));
    ACommand = UpperCaseAscii(TakeUntil(rest, " "));
    ATarget = rest;
}

void DecodeParams(const std::string& AParamText, std::vector<std::string>& AParams) {
    AParams.clear();
    if (AParamText.empty())
        return;
    const std::string_view text(AParamText);
    size_t start = 0;
    for (;;) {
        const size_t amp = text.find('&', start);
        AParams.push_back(DecodeParam(text.substr(start, amp - start)));
        if (amp == std::string::npos)
            return;
        start = amp + 1;
    }
}

void SplitDocument(const std::string& APathPart, std::string& ADocument, std::string& ATargetHost) {
    std::string path = APathPart;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    ATargetHost.clear();
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        path.erase(0, scheme + 3);
        std::string authority = TakeUntil(path, "/");
        ATargetHost = TakeUntil(authority, ":");
    }
    const size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (directory.empty() || directory[0] != '/')
        directory.insert(0, "/");
    ADocument = directory + TakeUntil(name, "#", false);
}

namespace {

void FillCredentials(TNetHTTPRequestInfo& ARequest) {
    const std::string authorization = ARequest.Headers.ValueOf("Authorization");
    ARequest.HasAuthorization = !authorization.empty();
    if (ARequest.HasAuthorization)
        DecodeBasicCredentials(authorization, ARequest.AuthUsername, ARequest.AuthPassword);
}

void FillCookies(TNetHTTPRequestInfo& ARequest) {
    std::vector<std::string> values;
    ARequest.Headers.ValuesOf("Cookie", &values);
    for (const std::string& value : values)
        ParseCookieHeader(ARequest.Cookies, value);
}

} // namespace

void FillRequestInfo(TNetHTTPRequestInfo& ARequest, const std::string& ATarget,
                     const std::string& AVersion, bool AParseParams) {
    std::string query = ATarget;
    const std::string pathPart = TakeUntil(query, "?");
    // In place: the body may be the largest part of the request and is held once.
    if (!query.empty() && !ARequest.ParamText.empty())
        ARequest.ParamText.append("\r\n").append(query);
    else if (!query.empty())
        ARequest.ParamText = std::move(query);
    if (AParseParams)
        DecodeParams(ARequest.ParamText, ARequest.Params);
    FillCookies(ARequest);
    ARequest.Host = ARequest.Headers.ValueOf("Host");
    ARequest.Version = AVersion;
    std::string targetHost;
    if (pathPart == "*")
        ARequest.Document = "*";
    else
        SplitDocument(pathPart, ARequest.Document, targetHost);
    if (!targetHost.empty() && ARequest.Host.empty())
        ARequest.Host = targetHost;
    FillCredentials(ARequest);
}
