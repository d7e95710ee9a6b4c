// The request record handed to the request handler, and the steps that fill it from the
// request line, header block and body. One record per request, on its peer thread.
#pragma once

#include "http/TNetCookie.h"
#include "http/TNetHTTPSession.h"
#include "http/TNetHeaderList.h"

#include <memory>
#include <string>
#include <vector>

struct TNetHTTPRequestInfo {
    std::shared_ptr<TNetHTTPSession> Session; // none while sessions are off
    std::string RemoteIP; // the client: the peer, or the one a trusted proxy forwarded for
    std::string ProxyIP;  // the peer when RemoteIP names a client behind it; empty otherwise
    std::string Host;     // Host header, else the host of an absolute target
    std::string Document; // path without query and fragment, not percent-decoded
    std::string Command;  // upper-case method
    std::string Version;  // protocol text as sent
    std::string AuthUsername;
    std::string AuthPassword;
    std::string ParamText; // body; with a query: body, CR LF, query (or the query alone)
    bool HasAuthorization = false;
    TNetHeaderList Headers;          // as received, ending with the empty line
    std::vector<std::string> Params; // decoded "&" items, not split at "="
    TNetCookieCollection Cookies;
    // The request handler's own, kept with the request from OnRequestHead to OnCommandGet.
    std::shared_ptr<const void> HandlerState;
};

// Splits a request line at its last blank (version) and first blank (command, target);
// the command is upper-cased. A line without a blank raises ENetHTTPErrorParsingCommand.
void ParseRequestLine(std::string_view ALine, std::string& ACommand, std::string& ATarget,
                      std::string& AVersion);

// Cuts AParamText at every "&" and decodes each item.
void DecodeParams(const std::string& AParamText, std::vector<std::string>& AParams);

// The document of a path part (backslashes as "/", no fragment) and the host of an absolute
// target ("scheme://host:port/path"), empty otherwise.
void SplitDocument(const std::string& APathPart, std::string& ADocument, std::string& ATargetHost);

// Fills the record from the target and version once Headers and the body (in ParamText) are
// read: query, Params, Cookies, Host, Version, Document, credentials.
void FillRequestInfo(TNetHTTPRequestInfo& ARequest, const std::string& ATarget,
                     const std::string& AVersion, bool AParseParams);
