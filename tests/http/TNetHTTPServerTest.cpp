#include "http/TNetHTTPServer.h"

#include "HTTPTestServer.h"
#include "http/NetHTTPExceptions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

// What the handler saw, copied out of the records on the peer thread.
struct TSeen {
    std::mutex Lock;
    std::condition_variable Called;
    int Calls = 0;
    std::string Command, Document, Version, Host, ParamText, User, Password;
    std::vector<std::string> Params, Headers, Other;
    std::vector<std::string> CookieNames;

    void Record(const TNetHTTPRequestInfo& ARequest) {
        std::lock_guard lock(Lock);
        ++Calls;
        Command = ARequest.Command;
        Document = ARequest.Document;
        Version = ARequest.Version;
        Host = ARequest.Host;
        ParamText = ARequest.ParamText;
        User = ARequest.AuthUsername;
        Password = ARequest.AuthPassword;
        Params = ARequest.Params;
        Headers = ARequest.Headers.Lines();
        CookieNames.clear();
        for (int i = 0; i < ARequest.Cookies.Count(); ++i)
            CookieNames.push_back(ARequest.Cookies.Items(i).Name + "=" +
                                  ARequest.Cookies.Items(i).Value);
        Called.notify_all();
    }
    // A body read until the peer closes ends with the socket closed before the handler runs.
    bool WaitForCall(std::unique_lock<std::mutex>& ALock) {
        return Called.wait_for(ALock, std::chrono::seconds(10), [this] { return Calls > 0; });
    }
    int CallCount() {
        std::lock_guard lock(Lock);
        return Calls;
    }
};

const std::string Fresh =
    "HTTP/1.1 200 OK\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n\r\n";

} // namespace

TEST(TNetHTTPServerTest, AnswerBytes) {
    const struct {
        const char* Name;
        std::function<void(TNetHTTPResponseInfo&)> Handler;
        std::string Expected;
    } cases[] = {
        {"fresh", [](TNetHTTPResponseInfo&) {}, Fresh},
        {"text", [](TNetHTTPResponseInfo& r) { r.ContentText = "hello world!"; },
         "HTTP/1.1 200 OK\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "Content-Length: 12\r\n\r\nhello world!"},
        {"304",
         [](TNetHTTPResponseInfo& r) {
             r.SetStatusCode(304);
             r.ContentType.clear();
         },
         "HTTP/1.1 304 Not Modified\r\nServer: NetHTTP/1.0\r\n\r\n"},
        {"head", [](TNetHTTPResponseInfo& r) { r.ContentLength = 4321; },
         "HTTP/1.1 200 OK\r\nServer: NetHTTP/1.0\r\nContent-Type: text/html\r\n"
         "Content-Length: 4321\r\n\r\n"},
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
        HTTPTestServer test;
        test.Server().OnCommandGet = [&c](TNetPeerThread&, TNetHTTPRequestInfo&,
                                          TNetHTTPResponseInfo& r) { c.Handler(r); };
        const std::string command = std::string(c.Name) == "head" ? "HEAD" : "GET";
        const TAnswer answer = Ask(test.Start(), command + " / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(answer.Bytes, c.Expected) << c.Name;
        EXPECT_TRUE(answer.Closed) << c.Name;
    }
}

TEST(TNetHTTPServerTest, AnswerWithFileAndServerSoftware) {
    TempDir dir;
    const std::string gif("GIF89a\0\x01", 8);
    dir.WriteFile("1x1.GIF", gif);
    HTTPTestServer test;
    test.Server().SetServerSoftware("sk_KAV test");
    std::atomic<std::int64_t> sent{-1};
    test.Server().OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q,
                                     TNetHTTPResponseInfo& r) {
        r.ContentType.clear();
        sent = test.Server().AnswerWithFile(t, r,
                                            dir.Path() + (q.Document == "/" ? "none" : "1x1.GIF"));
    };
    const int port = test.Start();
    EXPECT_EQ(Ask(port, "GET /x HTTP/1.0\r\n\r\n").Bytes,
              "HTTP/1.1 200 OK\r\nServer: sk_KAV test\r\nContent-Type: image/gif\r\n"
              "Content-Length: 8\r\n\r\n" +
                  gif);
    EXPECT_EQ(sent.load(), 8);
    const TAnswer missing = Ask(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(missing.Bytes.substr(0, 36), "HTTP/1.1 500 Internal Server Error\r\n");
}

TEST(TNetHTTPServerTest, RequestRecords) {
    const struct {
        std::string Request;
        std::string Command, Document, Version, Host, ParamText;
        std::vector<std::string> Params;
    } cases[] = {
        {"get /a.gif HTTP/1.0\r\n\r\n", "GET", "/a.gif", "HTTP/1.0", "", "", {}},
        {"GET /\r\n\r\n", "GET", "/", "/", "", "", {}},
        {"GET /a b.gif HTTP/1.1\r\n\r\n", "GET", "/a b.gif", "HTTP/1.1", "", "", {}},
        {"GET /d/x.gif#frag HTTP/1.1\r\n\r\n", "GET", "/d/x.gif", "HTTP/1.1", "", "", {}},
        {"GET \\d\\x.gif HTTP/1.1\r\n\r\n", "GET", "/d/x.gif", "HTTP/1.1", "", "", {}},
        {"GET x.gif HTTP/1.1\r\n\r\n", "GET", "/x.gif", "HTTP/1.1", "", "", {}},
        {"GET http://h.example:88/p/x.gif HTTP/1.1\r\n\r\n",
         "GET",
         "/p/x.gif",
         "HTTP/1.1",
         "h.example",
         "",
         {}},
        {"GET http://h.example:88/p/x.gif HTTP/1.1\r\nHost: real\r\n\r\n",
         "GET",
         "/p/x.gif",
         "HTTP/1.1",
         "real",
         "",
         {}},
        {"GET /a%20b.gif+c HTTP/1.1\r\n\r\n", "GET", "/a%20b.gif+c", "HTTP/1.1", "", "", {}},
        {"GET /1x1.gif?id=7&ref=a%20b+c HTTP/1.1\r\nhost: h\r\n\r\n",
         "GET",
         "/1x1.gif",
         "HTTP/1.1",
         "h",
         "id=7&ref=a%20b+c",
         {"id=7", "ref=a b c"}},
        {"GET /?v=a%26b&&x= HTTP/1.1\r\n\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         "",
         "v=a%26b&&x=",
         {"v=a&b", "", "x="}},
        {"POST /?a=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nb=2",
         "POST",
         "/",
         "HTTP/1.1",
         "",
         "b=2\r\na=1",
         {"b=2\r\na=1"}},
        {"HEAD /x HTTP/1.1\r\nContent-Length:2\r\n\r\nab",
         "HEAD",
         "/x",
         "HTTP/1.1",
         "",
         "ab",
         {"ab"}},
        {"GET /x HTTP/1.1\r\nContent-Length: abc\r\n\r\n", "GET", "/x", "HTTP/1.1", "", "", {}},
        {"GET /x HTTP/1.1\r\nContent-Length: 12 \r\n\r\n", "GET", "/x", "HTTP/1.1", "", "", {}},
        {"GET /x HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "GET", "/x", "HTTP/1.1", "", "", {}},
    };
    for (const auto& c : cases) {
        HTTPTestServer test;
        TSeen seen;
        test.Server().OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q,
                                         TNetHTTPResponseInfo&) { seen.Record(q); };
        const TAnswer answer = Ask(test.Start(), c.Request);
        EXPECT_TRUE(answer.Closed) << c.Request;
        EXPECT_EQ(answer.Bytes.substr(0, 15), "HTTP/1.1 200 OK") << c.Request;
        std::lock_guard lock(seen.Lock);
        EXPECT_EQ(seen.Command, c.Command) << c.Request;
        EXPECT_EQ(seen.Document, c.Document) << c.Request;
        EXPECT_EQ(seen.Version, c.Version) << c.Request;
        EXPECT_EQ(seen.Host, c.Host) << c.Request;
        EXPECT_EQ(seen.ParamText, c.ParamText) << c.Request;
        EXPECT_EQ(seen.Params, c.Params) << c.Request;
        ASSERT_FALSE(seen.Headers.empty());
        EXPECT_EQ(seen.Headers.back(), "") << c.Request;
    }
}

TEST(TNetHTTPServerTest, PostWithoutValidLengthReadsUntilClose) {
    for (const char* length : {"Content-Length: letters\r\n", "Content-Length: 3 \r\n", ""}) {
        HTTPTestServer test;
        TSeen seen;
        test.Server().OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q,
                                         TNetHTTPResponseInfo&) { seen.Record(q); };
        const std::string request = std::string("POST /p HTTP/1.1\r\n") + length + "\r\nbody&more";
        EXPECT_TRUE(Ask(test.Start(), request, true).Closed);
        std::unique_lock lock(seen.Lock);
        ASSERT_TRUE(seen.WaitForCall(lock));
        EXPECT_EQ(seen.ParamText, "body&more") << length;
        EXPECT_EQ(seen.Params, (std::vector<std::string>{"body", "more"}));
    }
}

TEST(TNetHTTPServerTest, CookiesAndCredentials) {
    HTTPTestServer test;
    TSeen seen;
    test.Server().OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q,
                                     TNetHTTPResponseInfo&) { seen.Record(q); };
    const int port = test.Start();
    Ask(port, "GET / HTTP/1.1\r\nCookie: a=1; b=2\r\nAuthorization: basic dTpwOnc=\r\n"
              "cookie: c=\"x;y\"\r\n\r\n");
    std::lock_guard lock(seen.Lock);
    EXPECT_EQ(seen.CookieNames, (std::vector<std::string>{"a=1", "b=2", "c=x;y"}));
    EXPECT_EQ(seen.User, "u");
    EXPECT_EQ(seen.Password, "p:w");
}

// Failures before the handler: no answer, connection closed, handler not called, server goes on.
TEST(TNetHTTPServerTest, FailuresBeforeTheHandlerCloseSilently) {
    HTTPTestServer test;
    TSeen seen;
    test.Server().OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q,
                                     TNetHTTPResponseInfo&) { seen.Record(q); };
    const int port = test.Start();
    for (const char* request :
         {"\r\n", "NOBLANK\r\n\r\n", "GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n",
          "GET / HTTP/1.1\r\nAuthorization: Basic  dTpw\r\n\r\n",
          "GET / HTTP/1.1\r\nAuthorization: Basic d!pw\r\n\r\n",
          "GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort"}) {
        const TAnswer answer = Ask(port, request, true);
        EXPECT_EQ(answer.Bytes, "") << request;
        EXPECT_TRUE(answer.Closed) << request;
    }
    EXPECT_EQ(seen.CallCount(), 0);
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n").Bytes, Fresh);
}

TEST(TNetHTTPServerTest, OtherCommandsGetNoAnswer) {
    HTTPTestServer test;
    std::mutex lock;
    std::vector<std::string> other;
    test.Server().OnCommandOther = [&](TNetPeerThread&, const std::string& c, const std::string& d,
                                       const std::string& v) {
        std::lock_guard guard(lock);
        other.push_back(c + "|" + d + "|" + v);
    };
    const int port = test.Start();
    const TAnswer options = Ask(port, "OPTIONS * HTTP/1.1\r\n\r\n");
    EXPECT_EQ(options.Bytes, "");
    EXPECT_TRUE(options.Closed);
    EXPECT_EQ(Ask(port, "get /x?y HTTP/1.0\r\n\r\n").Bytes, ""); // no OnCommandGet assigned
    std::lock_guard guard(lock);
    EXPECT_EQ(other, (std::vector<std::string>{"OPTIONS|*|HTTP/1.1", "GET|/x?y|HTTP/1.0"}));
}

TEST(TNetHTTPServerTest, Sessions) {
    HTTPTestServer test;
    TNetHTTPServer& server = test.Server();
    std::mutex lock;
    std::vector<std::string> ids;
    std::atomic<int> started{0}, ended{0};
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
        std::lock_guard guard(lock);
        ids.push_back(q.Session ? q.Session->Id() : "-");
        EXPECT_EQ(q.Session, r.Session);
    };
    server.OnSessionStart = [&](TNetHTTPSession*) { ++started; };
    server.OnSessionEnd = [&](TNetHTTPSession*) { ++ended; };
    server.SetSessionState(true);
    server.SetAutoStartSession(true);
    int port = test.Start(); // SessionTimeOut 0 switches sessions off
    EXPECT_FALSE(server.SessionState());
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n").Bytes, Fresh);
    server.SetActive(false);

    server.SetSessionState(true);
    server.SetSessionTimeOut(60000);
    port = test.Start();
    EXPECT_THROW(server.SetSessionState(false), ENetHTTPCannotSwitchSessionStateWhenActive);
    const std::string first = Ask(port, "GET / HTTP/1.0\r\n\r\n").Bytes;
    const size_t at = first.find("Set-Cookie: NETHTTPSESSIONID=");
    ASSERT_EQ(at, 17u) << first;
    const std::string id = first.substr(at + 29, 15);
    EXPECT_EQ(first.substr(at + 44, 37), "; Version=\"1\"; Path=/; Max-Age=60\r\nSe");
    const std::string second =
        Ask(port, "GET / HTTP/1.0\r\nCookie: x=1; NETHTTPSESSIONID=nope; nethttpsessionid=" + id +
                      "\r\n\r\n")
            .Bytes;
    EXPECT_EQ(second, Fresh);
    server.SetActive(false);
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(ended.load(), 1);
    std::lock_guard guard(lock);
    EXPECT_EQ(ids, (std::vector<std::string>{"-", id, id}));
}
