#include "http/TNetHTTPServer.h"

#include "HTTPTestServer.h"
#include "http/NetHTTPExceptions.h"
#include "support/FailingStack.h"
#include "support/LoopbackClient.h"
#include "support/RefusalLog.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

using namespace std::chrono_literals;

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
    // A file that cannot be opened: the answer names no path of this machine; the operator's
    // side hears the message.
    TCalls errors;
    server.OnCommandError = [&](TNetPeerThread&, const std::string& AMessage) {
        errors.Add(AMessage);
    };
    const std::string failed = Ask(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(failed.substr(0, 36), "HTTP/1.1 500 Internal Server Error\r\n");
    EXPECT_EQ(failed.substr(failed.find("\r\n\r\n")), "\r\n\r\nInternal Server Error");
    EXPECT_EQ(failed.find(dir.Path()), std::string::npos) << failed;
    EXPECT_EQ(errors.Wait(1),
              (std::vector<std::string>{"Cannot open file \"" + dir.Path() + "none\"."}));
}

TEST(TNetHTTPServerTest, AFileIsAnsweredAsItStandsNowThoughACopyOfItIsKept) {
    TempDir dir;
    dir.WriteFile("p.gif", "GIF-one");
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& r) {
        r.ContentType.clear();
        server.AnswerWithFile(t, r, dir.Path() + "p.gif");
    };
    const int port = Start(server);
    auto body = [port] {
        const std::string answer = Ask(port, "GET / HTTP/1.0\r\n\r\n");
        return answer.substr(0, 15) == "HTTP/1.1 200 OK"
                   ? answer.substr(answer.find("\r\n\r\n") + 4)
                   : answer.substr(0, 12);
    };
    const auto settled = TNetSmallFileCache::SettleTime + 50ms;
    std::this_thread::sleep_for(settled);
    EXPECT_EQ(body(), "GIF-one"); // kept from now on
    EXPECT_EQ(body(), "GIF-one");
    dir.WriteFile("p.gif", "GIF-two"); // the same size, in place
    EXPECT_EQ(body(), "GIF-two");
    std::this_thread::sleep_for(settled);
    EXPECT_EQ(body(), "GIF-two");
    dir.WriteFile("p.new", "GIF-333"); // another file put in its place
    std::filesystem::rename(dir.Path() + "p.new", dir.Path() + "p.gif");
    EXPECT_EQ(body(), "GIF-333");
    std::filesystem::remove(dir.Path() + "p.gif");
    EXPECT_EQ(body(), "HTTP/1.1 500");
    dir.WriteFile("p.gif", std::string(100000, 'x')); // above the send buffer: read as a stream
    EXPECT_EQ(body().size(), 100000u);
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
        {"POST /x HTTP/1.1\r\nContent-Length: 2 \r\n\r\nab", "POST|/x|HTTP/1.1||ab|ab"},
    };
    TCalls calls;
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo&) {
        EXPECT_EQ(q.Headers.Strings(q.Headers.Count() - 1), ""); // the closing empty line is kept
        calls.Add(Describe(q));
    };
    const int port = Start(server);
    std::vector<std::string> expected;
    for (const auto& [request, seen] : cases) {
        EXPECT_EQ(Ask(port, request).substr(0, 15), "HTTP/1.1 200 OK") << request;
        expected.push_back(seen);
    }
    // A POST without a length reads its body until the peer closes.
    Ask(port, "POST /p HTTP/1.1\r\n\r\nbody&more", true);
    expected.push_back("POST|/p|HTTP/1.1||body&more|body,more");
    EXPECT_EQ(calls.Wait(expected.size()), expected);
}

// Failures before the handler, broken limits included: no answer, the connection closed, the
// handler not called, the refusal reported once with its reason, the client's address and the
// limit (the defaults here), and the server goes on serving others.
TEST(TNetHTTPServerTest, RefusedRequestsCloseSilently) {
    std::atomic<int> calls{0};
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        ++calls;
    };
    TRefusalLog refusals(server);
    const int port = Start(server);
    const std::string line8k(8 * 1024 - 14, 'a'), post = "POST / HTTP/1.1\r\nContent-Length: ";
    std::string hundred, block32k, block40k;
    for (int i = 0; i < 100; ++i)
        hundred += "X" + std::to_string(i) + ": v\r\n";
    for (int i = 0; i < 4; ++i)
        block32k += "X: " + std::string(8000, 'b') + "\r\n"; // 32 KiB with the closing line
    block40k = block32k + "Y: " + std::string(8000, 'b') + "\r\n";
    const std::string body64k(64 * 1024, 'p'), chunked = "Transfer-Encoding: chunked\r\n";
    using R = TNetHTTPRefusalReason;
    const struct {
        std::string Request;
        bool Served;
        std::error_code Reason;
        long long Limit;
    } cases[] = {
        {"\r\n", false, R::BadRequestLine, 0},
        {"NOBLANK\r\n\r\n", false, R::BadRequestLine, 0},
        {"GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n", false, R::BadAuthorization, 0},
        {"GET / HTTP/1.1\r\nAuthorization: Basic  dTpw\r\n\r\n", false, R::BadAuthorization, 0},
        {"GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort", false, {}, 0}, // the client left
        {"GET /" + line8k + " HTTP/1.1\r\n\r\n", true, {}, 0},
        {"GET /" + line8k + "a HTTP/1.1\r\n\r\n", false, R::LineTooLong, 8192},
        {"GET / HTTP/1.1\r\nX: " + std::string(8 * 1024, 'h') + "\r\n\r\n", false, R::LineTooLong,
         8192},
        {"GET / HTTP/1.1\r\n" + hundred + "\r\n", true, {}, 0},
        {"GET / HTTP/1.1\r\n" + hundred + "Y: 1\r\n\r\n", false, R::TooManyHeaderLines, 100},
        {"GET / HTTP/1.1\r\n" + block32k + "\r\n", true, {}, 0},
        {"GET / HTTP/1.1\r\n" + block40k + "\r\n", false, R::HeaderTooLarge, 32768},
        {post + "65536\r\n\r\n" + body64k, true, {}, 0},
        {post + "65537\r\n\r\n", false, R::BodyTooLarge, 65536},
        {post + "99999999999\r\n\r\n", false, R::BodyTooLarge, 65536},
        {"POST / HTTP/1.1\r\n\r\n" + body64k + "p", false, R::BodyTooLarge, 65536},
        {"GET / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", false, R::BadFraming, 0},
        {post + "-1\r\n\r\n", false, R::BadFraming, 0},
        {post + "+5\r\n\r\nhello", false, R::BadFraming, 0},
        {post + "5\r\nContent-Length: 6\r\n\r\nhello!", false, R::BadFraming, 0},
        {post + "5\r\n" + chunked + "\r\nhello", false, R::BadFraming, 0},
        {"POST / HTTP/1.1\r\n" + chunked + "\r\n5\r\nhello\r\n0\r\n\r\n", false, R::BadFraming, 0},
    };
    int served = 0;
    std::vector<TNetRefusal> expected;
    for (const auto& c : cases) {
        const std::string label = c.Request.substr(0, 60);
        EXPECT_EQ(Ask(port, c.Request, !c.Served).empty(), !c.Served) << label;
        served += c.Served ? 1 : 0;
        if (c.Reason)
            expected.push_back({c.Reason, "127.0.0.1", c.Limit});
        EXPECT_EQ(refusals.Wait(expected.size()), expected) << label;
        EXPECT_EQ(calls.load(), served) << label;
    }
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
    EXPECT_EQ(server.RefusalCount(R::BadFraming), 6u);
    EXPECT_EQ(server.RefusalCount(R::LineTooLong), 2u);
    EXPECT_TRUE(WaitUntil([&] { return server.RequestMemoryHeld() == 0; }));
}

TEST(TNetHTTPServerTest, TricklingClientIsDroppedAtTheDeadline) {
    TNetHTTPServer server;
    server.SetRequestTimeout(400);
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {};
    TRefusalLog refusals(server);
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
    EXPECT_EQ(refusals.Wait(1), (std::vector<TNetRefusal>{
                                    {TNetHTTPRefusalReason::RequestTimeout, "127.0.0.1", 400}}));
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
}

// While more than three quarters of the places are busy, connections whose request head is
// late are closed, oldest first, to make room; a request whose head has come is served however
// long its handler takes, and below that load nobody is hurried.
TEST(TNetHTTPServerTest, UnderLoadLateHeadsMakeRoomOldestFirst) {
    TNetHTTPServer server;
    std::promise<void> opener; // the held handler waits (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    server.SetMaxConnections(4);
    server.SetHeadTimeoutUnderLoad(300);
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo&) {
        if (q.Document == "/hold")
            gate.wait_for(std::chrono::seconds(10));
    };
    TRefusalLog refusals(server);
    const int port = Start(server);
    auto slowClients = [&](std::vector<std::string> AFrom) { // heads without their end
        std::vector<std::unique_ptr<LoopbackClient>> slow;
        const size_t before = server.PeerThreadCount();
        for (const std::string& from : AFrom) {
            slow.push_back(std::make_unique<LoopbackClient>());
            EXPECT_TRUE(slow.back()->Connect(port, from));
            EXPECT_TRUE(slow.back()->Send("GET / HTTP/1.1\r\nHost: h\r\n"));
            EXPECT_TRUE(
                WaitUntil([&] { return server.PeerThreadCount() == before + slow.size(); }));
        }
        return slow;
    };
    LoopbackClient held;
    ASSERT_TRUE(held.Connect(port));
    ASSERT_TRUE(held.Send("GET /hold HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 1; }));
    auto slow = slowClients({"127.0.0.2", "127.0.0.3", "127.0.0.4"});
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh); // every place was taken
    const auto late = TNetRefusalReason::HeadTimeoutUnderLoad;
    EXPECT_EQ(refusals.Wait(3),
              (std::vector<TNetRefusal>{
                  {late, "127.0.0.2", 300}, {late, "127.0.0.3", 300}, {late, "127.0.0.4", 300}}));
    opener.set_value();
    EXPECT_EQ(held.ReadUntilClose(), Fresh);

    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 0; }));
    auto unhurried = slowClients({"127.0.0.2", "127.0.0.3", "127.0.0.4"}); // three of four
    std::this_thread::sleep_for(900ms);
    EXPECT_EQ(refusals.Refusals().size(), 3u);
    for (auto& client : unhurried) {
        ASSERT_TRUE(client->Send("\r\n"));
        EXPECT_EQ(client->ReadUntilClose(), Fresh);
    }
}

// HTTP clients speak first: a silent one is not handed to a thread.
TEST(TNetHTTPServerTest, SilentClientsGetNoThread) {
    TNetHTTPServer server;
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {};
    const int port = Start(server);
    LoopbackClient silent;
    ASSERT_TRUE(silent.Connect(port));
    EXPECT_FALSE(WaitUntil([&] { return server.PeerThreadCount() > 0; }, 300ms));
    ASSERT_TRUE(silent.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(silent.ReadUntilClose(), Fresh);
}

// A client that never reads its answer holds its thread no longer than the send timeout.
TEST(TNetHTTPServerTest, AnAnswerNobodyTakesEndsAtTheSendTimeout) {
    TempDir dir;
    dir.WriteFile("big", "");
    std::filesystem::resize_file(dir.Path() + "big", 64 << 20); // sparse: no disk is used
    TNetHTTPServer server;
    server.SetSendTimeout(300);
    server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
        if (q.Document == "/big")
            server.AnswerWithFile(t, r, dir.Path() + "big");
    };
    TRefusalLog refusals(server);
    const int port = Start(server);
    LoopbackClient reader;
    ASSERT_TRUE(reader.Connect(port));
    ASSERT_TRUE(reader.Send("GET /big HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(refusals.Wait(1),
              (std::vector<TNetRefusal>{{TNetRefusalReason::SendTimeout, "127.0.0.1", 300}}));
    EXPECT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 0; }));
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n"), Fresh);
}

// The budget covers the bytes that all requests hold at once.
TEST(TNetHTTPServerTest, ARequestThatWouldPassTheMemoryBudgetIsRefused) {
    TNetHTTPServer server;
    server.SetMaxRequestMemory(2800);
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {};
    TRefusalLog refusals(server);
    const int port = Start(server);
    const std::string post = "POST / HTTP/1.1\r\nContent-Length: 1500\r\n\r\n";
    LoopbackClient holder; // sends most of its body, then waits
    ASSERT_TRUE(holder.Connect(port));
    ASSERT_TRUE(holder.Send(post + std::string(1400, 'h')));
    ASSERT_TRUE(WaitUntil([&] { return server.RequestMemoryHeld() >= 1400; }));
    EXPECT_EQ(Ask(port, post + std::string(1500, 'r')), "");
    EXPECT_EQ(refusals.Wait(1),
              (std::vector<TNetRefusal>{{TNetHTTPRefusalReason::MemoryBudget, "127.0.0.1", 2800}}));
    ASSERT_TRUE(holder.Send(std::string(100, 'h')));
    EXPECT_EQ(holder.ReadUntilClose(), Fresh);
    EXPECT_TRUE(WaitUntil([&] { return server.RequestMemoryHeld() == 0; }));
    EXPECT_EQ(Ask(port, post + std::string(1500, 'r')), Fresh);
}

// Every accept, receive and send of an exchange fails in turn: each failure ends at most its own
// exchange, the next one is answered byte for byte, and nothing is left behind.
TEST(TNetHTTPServerTest, AFailureAtAnyStepOfAnExchangeLeavesNothingBehind) {
    std::thread([] {}).join(); // a sanitizer's own helper thread starts with the first thread
    TempDir dir;
    dir.WriteFile("page.htm", std::string(100 * 1024, 'p')); // several sends
    TInjectedStack injected;
    TNetHTTPServer server;
    server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& r) {
        server.AnswerWithFile(t, r, dir.Path() + "page.htm");
    };
    const int port = Start(server);
    auto exchange = [port] { // the body comes apart from the head: more than one receive
        LoopbackClient client;
        if (!client.Connect(port) ||
            !client.Send("POST /page.htm HTTP/1.1\r\nContent-Length: 5\r\n\r\n"))
            return std::string();
        std::this_thread::sleep_for(20ms);
        client.Send("hello");
        return client.ReadUntilClose(std::chrono::seconds(10));
    };
    const std::string answer = exchange();
    ASSERT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    using TCall = TFailingStack::TCall;
    for (TCall kind : {TCall::Accept, TCall::Receive, TCall::Send}) {
        const int before = injected.Stack().Calls(kind);
        exchange();
        const int calls = injected.Stack().Calls(kind) - before;
        EXPECT_GE(calls, kind == TCall::Send ? 5 : kind == TCall::Receive ? 2 : 1);
        for (int n = 1; n <= calls; ++n) {
            injected.Stack().FailCalls(kind, n, kind == TCall::Accept ? EMFILE : ECONNRESET);
            exchange();
            injected.Stack().StopFailing(kind);
            EXPECT_EQ(exchange(), answer) << "call kind " << static_cast<int>(kind) << ", " << n;
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() <= descriptors; }));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threads; }));
    EXPECT_EQ(server.RequestMemoryHeld(), 0u);
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
