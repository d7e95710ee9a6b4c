// The response record the request handler fills, and the writing of its status line, header
// block and body to the connection. One record per request, on its peer thread.
#pragma once

#include "http/TNetCookie.h"
#include "http/TNetHTTPSession.h"
#include "http/TNetHeaderList.h"

#include <istream>
#include <memory>
#include <string>

class TNetTCPConnection;

class TNetHTTPResponseInfo {
public:
    // AConnection is where the answer goes; not owned, must outlive the record.
    explicit TNetHTTPResponseInfo(TNetTCPConnection* AConnection);
    TNetHTTPResponseInfo(const TNetHTTPResponseInfo&) = delete;
    TNetHTTPResponseInfo& operator=(const TNetHTTPResponseInfo&) = delete;

    // Sets StatusCode and the matching StatusText.
    void SetStatusCode(int ACode);
    // Sends the status line and the header block in one write; a second call raises
    // ENetHTTPHeaderAlreadyWritten.
    void WriteHeader();
    // The same, with ABody sent in the same write right after the empty line (a small file).
    void WriteHeader(const std::string& ABody);
    // Sends ContentText, else ContentStream, else a small default page.
    void WriteContent();
    // Sends what is not sent yet: the header block, then ContentText or ContentStream unless
    // AHead. Once it has returned, later calls send nothing: a handler may finish its answer
    // and go on working (the connection stays open until the handler returns).
    void Finish(bool AHead);

    std::shared_ptr<TNetHTTPSession> Session;
    std::string ServerSoftware = "NetHTTP/1.0";
    std::string AuthRealm; // non-empty: the answer becomes a 401 Basic challenge
    std::string StatusText;
    std::string ContentType = "text/html"; // empty leaves the header out
    TNetTCPConnection* Connection;
    bool HeaderWritten = false;
    bool Finished = false; // Finish has sent everything
    int StatusCode = 0;
    long long ContentLength = -1; // -1: from the body; other negatives leave the header out
    TNetCookieCollection Cookies;
    TNetHeaderList Headers; // folding off: written as they stand
    std::unique_ptr<std::istream> ContentStream;
    std::string ContentText;

private:
    void PrepareHeaders();
    // The status line, cookies and header lines with the empty line after them, with room for
    // ARoom more bytes.
    std::string HeaderBlock(std::size_t ARoom) const;
};

// The reason phrase of a status code; "Unknown Response Code" for codes not in the table.
std::string StatusTextOf(int ACode);

// The number of bytes from the stream's start to its end; the position is left at the start.
long long StreamSize(std::istream& AStream);
