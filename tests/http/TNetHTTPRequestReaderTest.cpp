#include "http/TNetHTTPRequestReader.h"

#include "HTTPTestServer.h"
#include "http/NetHTTPExceptions.h"
#include "support/LoopbackClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Memory input that hands out the bytes in pieces of AStep, then reports the close.
class TMemoryInput : public INetHTTPInput {
public:
    TMemoryInput(std::string ABytes, size_t AStep) : FRest(std::move(ABytes)), FStep(AStep) {}
    const char* Data() const override { return FBuffer.data(); }
    size_t Size() const override { return FBuffer.size(); }
    std::string Take(size_t ACount) override {
        std::string head = FBuffer.substr(0, ACount);
        FBuffer.erase(0, ACount);
        return head;
    }
    size_t Fill(int) override {
        if (FRest.empty())
            throw ENetConnClosedGracefully();
        const std::string piece = FRest.substr(0, FStep);
        FRest.erase(0, piece.size());
        FBuffer += piece;
        return piece.size();
    }

private:
    std::string FBuffer, FRest;
    size_t FStep;
};

const std::string Request = "GET /x HTTP/1.1\r\nA: 1\r\n b\r\n  \r\nBODY";

} // namespace

TEST(TNetHTTPRequestReaderTest, SameResultWhateverTheSplit) {
    for (size_t step = 1; step <= Request.size(); ++step) {
        TMemoryInput input(Request, step);
        TNetHTTPRequestReader reader(input, TNetHTTPLimits());
        EXPECT_EQ(reader.ReadLine(), "GET /x HTTP/1.1");
        TNetHeaderList headers;
        reader.ReadHeaders(headers);
        EXPECT_EQ(headers.Lines(), (std::vector<std::string>{"A: 1", " b", "  "})) << step;
        EXPECT_EQ(reader.ReadBody(2), "BO");
        EXPECT_EQ(reader.ReadBodyUntilClose(), "DY");
    }
}

TEST(TNetHTTPRequestReaderTest, LimitsAtTheirEdges) {
    TNetHTTPLimits limits;
    limits.MaxLineLength = 10;
    limits.MaxHeaderLines = 2;
    limits.MaxHeaderSize = 20;
    limits.MaxBodySize = 5;
    const struct {
        std::string Bytes;
        bool Fails;
    } cases[] = {
        {"0123456789\r\nA:1\r\nB:2\r\n\r\n12345", false},
        {"0123456789\nA:1\r\nB:2\r\n\r\n12345", false},
        {"0123456789A\r\n\r\n", true}, // line too long
        {"0123456789\rX\n\r\n", true},
        {"GET\r\nA:1\r\nB:2\r\nC:3\r\n\r\n", true},        // too many lines
        {"GET\r\nA:12345678\r\nB:12345678\r\n\r\n", true}, // header block too large
        {"GET\r\n\r\n123456", true},                       // body too large by length
    };
    for (const auto& c : cases) {
        TMemoryInput input(c.Bytes, 3);
        TNetHTTPRequestReader reader(input, limits);
        auto readAll = [&] {
            reader.ReadLine();
            TNetHeaderList headers;
            reader.ReadHeaders(headers);
            reader.ReadBody(static_cast<long long>(c.Bytes.size() - c.Bytes.rfind('\n') - 1));
        };
        if (c.Fails)
            EXPECT_THROW(readAll(), ENetHTTPRequestLimitExceeded) << c.Bytes;
        else
            EXPECT_NO_THROW(readAll()) << c.Bytes;
    }
    TMemoryInput huge("", 1);
    EXPECT_THROW(TNetHTTPRequestReader(huge, limits).ReadBody(99999999999LL),
                 ENetHTTPRequestLimitExceeded);
    TMemoryInput closing("123456", 2);
    EXPECT_THROW(TNetHTTPRequestReader(closing, limits).ReadBodyUntilClose(),
                 ENetHTTPRequestLimitExceeded);
}

// Each default limit through a real connection: no answer, closed, handler never called,
// and the server still serves the next client.
TEST(TNetHTTPRequestReaderTest, ServerRefusesRequestsBeyondItsLimits) {
    HTTPTestServer test;
    std::atomic<int> calls{0};
    test.Server().OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        ++calls;
    };
    const int port = test.Start();
    const std::string line8k(8 * 1024 - 14, 'a');
    std::string hundred, big;
    for (int i = 0; i < 100; ++i)
        hundred += "X" + std::to_string(i) + ": v\r\n";
    for (int i = 0; i < 9; ++i)
        big += "X: " + std::string(8000, 'b') + "\r\n";
    const struct {
        std::string Request;
        bool Served;
    } cases[] = {
        {"GET /" + line8k + " HTTP/1.1\r\n\r\n", true},
        {"GET /" + line8k + "a HTTP/1.1\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nX: " + std::string(8 * 1024, 'h') + "\r\n\r\n", false},
        {"GET / HTTP/1.1\r\n" + hundred + "\r\n", true},
        {"GET / HTTP/1.1\r\n" + hundred + "Y: 1\r\n\r\n", false},
        {"GET / HTTP/1.1\r\n" + big + "\r\n", false},
        {"POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, 'p'), true},
        {"POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", false},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", false},
        {"POST / HTTP/1.1\r\n\r\n" + std::string(1048577, 'p'), false},
    };
    int served = 0;
    for (const auto& c : cases) {
        const TAnswer answer = Ask(port, c.Request, !c.Served);
        EXPECT_TRUE(answer.Closed) << c.Request.substr(0, 60);
        EXPECT_EQ(answer.Bytes.empty(), !c.Served) << c.Request.substr(0, 60);
        served += c.Served ? 1 : 0;
        EXPECT_EQ(calls.load(), served) << c.Request.substr(0, 60);
    }
}

TEST(TNetHTTPRequestReaderTest, TricklingClientIsDroppedAtTheDeadline) {
    HTTPTestServer test;
    test.Server().SetRequestTimeout(400);
    test.Server().OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
    };
    const int port = test.Start();
    LoopbackClient slow;
    ASSERT_TRUE(slow.Connect(port));
    const auto started = std::chrono::steady_clock::now();
    bool closed = false;
    for (int i = 0; i < 60 && !closed; ++i) { // one byte every 50 ms, never a whole request
        slow.Send("G");
        closed = slow.WaitForClose(std::chrono::milliseconds(50));
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(closed);
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(Ask(port, "GET / HTTP/1.0\r\n\r\n").Bytes.substr(0, 15), "HTTP/1.1 200 OK");
}
