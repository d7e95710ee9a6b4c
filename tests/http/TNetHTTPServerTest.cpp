#include "http/TNetHTTPServer.h"

#include "HTTPTestServer.h"
#include "http/NetHTTPExceptions.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

const std::string Ok = "HTTP/1.1 200 OK\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n";
const std::string Fresh = Ok + "\r\n";

using THandler = std::function<void(TNetHTTPResponseInfo&)>;

// What a handler saw: "Command|Document|Version|Host|ParamText|Param,Param", then each cookie
// and the credentials when there are any.
std::string Describe(const TNetHTTPRequestInfo& ARequest) {
    std::string text = ARequest.Command + "|" + ARequest.Document + "|" + ARequest.Version + "|" +
                       ARequest.Host + "|" + ARequest.ParamText + "|";
    for (size_t i = 0; i < ARequest.Params.size(); ++i)
        text += (i ? "," : "") + ARequest.Params[i];
    for (int i = 0; i < ARequest.Cookies.Count(); ++i)
        text += "|" + ARequest.Cookies.Items(i).Name + "=" + ARequest.Cookies.Items(i).Value;
    if (!ARequest.AuthUsername.empty() || !ARequest.AuthPassword.empty())
        text += "|" + ARequest.AuthUsername + "/" + ARequest.AuthPassword;
    return text;
}

} // namespace

TEST(TNetHTTPServerTest, AnswerBytes) {
    const struct {
        const char* Name;
        THandler Handler;
        std::string Expected;
    } cases[] = {
        {"text", [](TNetHTTPResponseInfo& r) { r.ContentText = "hello world!"; },
         Ok + "Content-Length: 12\r\n\r\nhello world!"},
        {"304",
         [](TNetHTTPResponseInfo& r) {
             r.SetStatusCode(304);
             r.ContentType.clear();
         },
         "HTTP/1.1 304 Not Modified\r\nServer: NetHTTP/1.0\r\n\r\n"},
        {"head", [](TNetHTTPResponseInfo& r) { r.ContentLength = 4321; },
         Ok + "Content-Length: 4321\r\n\r\n"},
        // A HEAD answer keeps the header block a GET would get, but never carries the body.
        {"head 404",
         [](TNetHTTPResponseInfo& r) {
             r.SetStatusCode(404);
             r.ContentText = "<h1>Not Found</h1>";
         },
         "HTTP/1.1 404 Not Found\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "Content-Length: 18\r\n\r\n"},
        {"head throws", [](TNetHTTPResponseInfo&) { throw ENetException("boom"); },
         "HTTP/1.1 500 Internal Server Error\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "Content-Length: 4\r\n\r\n"},
        {"-2",
         [](TNetHTTPResponseInfo& r) {
             r.ContentLength = -2;
             r.ContentText = "abc";
         },
         Fresh + "abc"},
        {"realm", [](TNetHTTPResponseInfo& r) { r.AuthRealm = "zone"; },
         "HTTP/1.1 401 Unauthorized\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "WWW-Authenticate: Basic realm=\"zone\"\r\n\r\n"},
        {"cookies",
         [](TNetHTTPResponseInfo& r) {
             r.Headers.Add("Date: d");
             r.Headers.Add("content-type: image/gif");
             r.Cookies.Add() = {"a", "1", "", "", "", false, -1};
             r.Cookies.Add() = {"b", "2", "", "/", "", false, 5};
         },
         "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Version=\"1\"\r\n"
         "Set-Cookie: b=2; Version=\"1\"; Path=/; Max-Age=5\r\nDate: d\r\n"
         "Content-Type: text/html\r\nServer: NetHTTP/1.0\r\n\r\n"},
        {"throws", [](TNetHTTPResponseInfo&) { throw ENetException("boom"); },
         "HTTP/1.1 500 Internal Server Error\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "Content-Length: 4\r\n\r\nboom"},
        {"twice",
         [](TNetHTTPResponseInfo& r) {
             r.WriteHeader();
             r.WriteHeader();
         },
         Fresh + "Header has already been written."},
        {"page",
         [](TNetHTTPResponseInfo& r) {
             r.SetStatusCode(402);
             r.WriteContent();
         },
         "<HTML><BODY><B>402 Unknown Response Code</B></BODY></HTML>\r\n"
         "HTTP/1.1 402 Unknown Response Code\r\nServer: NetHTTP/1.0\r\n"
         "Content-Type: text/html\r\n\r\n"},
    };
    for (const auto& c : cases) {
        TNetHTTPServer server;
        server.OnCommandGet = [&c](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& r) {
            c.Handler(r);
        };
        const std::string command = std::string(c.Name).rfind("head", 0) == 0 ? "HEAD" : "GET";
        EXPECT_EQ(Ask(Start(server), command + " / HTTP/1.0\r\n\r\n"), c.Expected) << c.Name;
    }
}

TEST(TNetHTTPServerTest, AnswerWithFileAndServerSoftware) {
    TempDir dir;
    const std::string gif("GIF89a\0\x01", 8);
    dir.WriteFile("1x1.GIF", gif);
    std::atomic<std::int64_t> sent{-1};
    TNetHTTPServer server;
    server.SetServerSoftware("sk_KAV test");
    server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
        r.ContentType.clear();
        sent = server.AnswerWithFile(t, r, dir.Path() + (q.Document == "/" ? "none" : "1x1.GIF"));
    };
    const int port = Start(server);
    EXPECT_EQ(Ask(port, "GET /x HTTP/1.0\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nServer: sk_KAV test\r\nContent-Type: image/gif\r\n"
              "Content-Length: 8\r\n\r\n" +
                  gif);
    EXPECT_EQ(sent.load(), 8);
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n").substr(0, 36),
              "HTTP/1.1 500 Internal Server Error\r\n");
}

TEST(TNetHTTPServerTest, RequestRecords) {
    const std::pair<std::string, std::string> cases[] = {
        {"get /a.gif HTTP/1.0\r\n\r\n", "GET|/a.gif|HTTP/1.0|||"},
        {"GET /\r\n\r\n", "GET|/|/|||"},
        {"GET /a b.gif HTTP/1.1\r\n\r\n", "GET|/a b.gif|HTTP/1.1|||"},
        {"GET /d/x.gif#frag HTTP/1.1\r\n\r\n", "GET|/d/x.gif|HTTP/1.1|||"},
        {"GET \\d\\x.gif HTTP/1.1\r\n\r\n", "GET|/d/x.gif|HTTP/1.1|||"},
        {"GET x.gif HTTP/1.1\r\n\r\n", "GET|/x.gif|HTTP/1.1|||"},
        {"GET http://h.example:88/p/x.gif HTTP/1.1\r\n\r\n", "GET|/p/x.gif|HTTP/1.1|h.example||"},
        {"GET http://h.example:88/p HTTP/1.1\r\nHost: real\r\n\r\n", "GET|/p|HTTP/1.1|real||"},
        {"GET /a%20b.gif+c HTTP/1.1\r\n\r\n", "GET|/a%20b.gif+c|HTTP/1.1|||"},
        {"GET /1x1.gif?id=7&ref=a%20b+c HTTP/1.1\r\nhost: h\r\n\r\n",
         "GET|/1x1.gif|HTTP/1.1|h|id=7&ref=a%20b+c|id=7,ref=a b c"},
        {"GET /?v=a%26b&&x= HTTP/1.1\r\n\r\n", "GET|/|HTTP/1.1||v=a%26b&&x=|v=a&b,,x="},
        {"POST /?a=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nb=2",
         "POST|/|HTTP/1.1||b=2\r\na=1|b=2\r\na=1"},
        {"GET / HTTP/1.1\r\nCookie: a=1; b=2\r\nAuthorization: basic dTpwOnc=\r\n"
         "cookie: c=\"x;y\"\r\n\r\n",
         "GET|/|HTTP/1.1||||a=1|b=2|c=x;y|u/p:w"},
        {"HEAD /x HTTP/1.1\r\nContent-Length:2\r\n\r\nab", "HEAD|/x|HTTP/1.1||ab|ab"},
        {"GET /x HTTP/1.1\r\nContent-Length: abc\r\n\r\n", "GET|/x|HTTP/1.1|||"},
        {"GET /x HTTP/1.1\r\nContent-Length: 12 \r\n\r\n", "GET|/x|HTTP/1.1|||"},
    };
    TCalls calls;
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo&) {
        EXPECT_EQ(q.Headers.Lines().back(), ""); // the closing empty line is kept
        calls.Add(Describe(q));
    };
    const int port = Start(server);
    std::vector<std::string> expected;
    for (const auto& [request, seen] : cases) {
        EXPECT_EQ(Ask(port, request).substr(0, 15), "HTTP/1.1 200 OK") << request;
        expected.push_back(seen);
    }
    // A POST without a valid length reads its body until the peer closes.
    for (const char* length : {"Content-Length: letters\r\n", "Content-Length: 3 \r\n", ""}) {
        Ask(port, std::string("POST /p HTTP/1.1\r\n") + length + "\r\nbody&more", true);
        expected.push_back("POST|/p|HTTP/1.1||body&more|body,more");
        calls.Wait(expected.size()); // the socket closes before the handler runs
    }
    EXPECT_EQ(calls.Wait(expected.size()), expected);
}

// Failures before the handler, broken limits included: no answer, the connection closed, the
// handler not called, and the server goes on serving others.
TEST(TNetHTTPServerTest, RefusedRequestsCloseSilently) {
    std::atomic<int> calls{0};
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        ++calls;
    };
    const int port = Start(server);
    const std::string line8k(8 * 1024 - 14, 'a'), post = "POST / HTTP/1.1\r\nContent-Length: ";
    std::string hundred, big;
    for (int i = 0; i < 100; ++i)
        hundred += "X" + std::to_string(i) + ": v\r\n";
    for (int i = 0; i < 9; ++i)
        big += "X: " + std::string(8000, 'b') + "\r\n";
    const std::pair<std::string, bool> cases[] = {
        // request, served
        {"\r\n", false},
        {"NOBLANK\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nAuthorization: Basic  dTpw\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort", false},
        {"GET /" + line8k + " HTTP/1.1\r\n\r\n", true},
        {"GET /" + line8k + "a HTTP/1.1\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nX: " + std::string(8 * 1024, 'h') + "\r\n\r\n", false},
        {"GET / HTTP/1.1\r\n" + hundred + "\r\n", true},
        {"GET / HTTP/1.1\r\n" + hundred + "Y: 1\r\n\r\n", false},
        {"GET / HTTP/1.1\r\n" + big + "\r\n", false},
        {post + "1048576\r\n\r\n" + std::string(1048576, 'p'), true},
        {post + "1048577\r\n\r\n", false},
        {post + "99999999999\r\n\r\n", false},
        {"POST / HTTP/1.1\r\n\r\n" + std::string(1048577, 'p'), false},
    };
    int served = 0;
    for (const auto& [request, ok] : cases) {
        EXPECT_EQ(Ask(port, request, !ok).empty(), !ok) << request.substr(0, 60);
        served += ok ? 1 : 0;
        EXPECT_EQ(calls.load(), served) << request.substr(0, 60);
    }
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
}

TEST(TNetHTTPServerTest, TricklingClientIsDroppedAtTheDeadline) {
    TNetHTTPServer server;
    server.SetRequestTimeout(400);
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {};
    const int port = Start(server);
    LoopbackClient slow;
    ASSERT_TRUE(slow.Connect(port));
    const auto started = std::chrono::steady_clock::now();
    bool closed = false;
    for (int i = 0; i < 60 && !closed; ++i) { // one byte every 50 ms, never a whole request
        slow.Send("G");
        closed = slow.WaitForClose(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
}

TEST(TNetHTTPServerTest, OtherCommandsGetNoAnswer) {
    TCalls other;
    TNetHTTPServer server;
    server.OnCommandOther = [&](TNetPeerThread&, const std::string& c, const std::string& d,
                                const std::string& v) { other.Add(c + "|" + d + "|" + v); };
    const int port = Start(server);
    EXPECT_EQ(Ask(port, "OPTIONS * HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Ask(port, "get /x?y HTTP/1.0\r\n\r\n"), ""); // no OnCommandGet assigned
    EXPECT_EQ(other.Wait(2), (std::vector<std::string>{"OPTIONS|*|HTTP/1.1", "GET|/x?y|HTTP/1.0"}));
}

TEST(TNetHTTPServerTest, Sessions) {
    TCalls ids;
    std::atomic<int> started{0}, ended{0};
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
        EXPECT_EQ(q.Session, r.Session);
        ids.Add(q.Session ? q.Session->Id() : "-");
    };
    server.OnSessionStart = [&](TNetHTTPSession*) { ++started; };
    server.OnSessionEnd = [&](TNetHTTPSession*) { ++ended; };
    server.SetSessionState(true);
    server.SetAutoStartSession(true);
    int port = Start(server); // SessionTimeOut 0 switches sessions off
    EXPECT_FALSE(server.SessionState());
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
    server.SetActive(false);

    server.SetSessionState(true);
    server.SetSessionTimeOut(60000);
    port = Start(server);
    EXPECT_THROW(server.SetSessionState(false), ENetHTTPCannotSwitchSessionStateWhenActive);
    const std::string first = Ask(port, "GET / HTTP/1.0\r\n\r\n");
    const size_t at = first.find("Set-Cookie: NETHTTPSESSIONID=");
    ASSERT_EQ(at, 17u) << first;
    const std::string id = first.substr(at + 29, 15);
    EXPECT_EQ(first.substr(at + 44, 37), "; Version=\"1\"; Path=/; Max-Age=60\r\nSe");
    const std::string again =
        "GET / HTTP/1.0\r\nCookie: x=1; NETHTTPSESSIONID=nope; nethttpsessionid=";
    EXPECT_EQ(Ask(port, again + id + "\r\n\r\n"), Fresh);
    server.SetActive(false);
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(ended.load(), 1);
    EXPECT_EQ(ids.Wait(3), (std::vector<std::string>{"-", id, id}));
}
