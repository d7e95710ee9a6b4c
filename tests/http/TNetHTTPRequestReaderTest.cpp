#include "http/TNetHTTPRequestReader.h"

#include "http/NetHTTPExceptions.h"

#include <gtest/gtest.h>

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

} // namespace

// Line ends, continuations and the body may arrive split anywhere.
TEST(TNetHTTPRequestReaderTest, SameResultWhateverTheSplit) {
    const std::string request = "GET /x HTTP/1.1\r\nA: 1\r\n b\r\n  \r\nBODY";
    for (size_t step = 1; step <= request.size(); ++step) {
        TMemoryInput input(request, step);
        TNetHTTPRequestReader reader(input, TNetHTTPLimits());
        EXPECT_EQ(reader.ReadLine(), "GET /x HTTP/1.1");
        TNetHeaderList headers;
        reader.ReadHeaders(headers);
        EXPECT_EQ(headers.Lines(), (std::vector<std::string>{"A: 1", " b", "  "})) << step;
        EXPECT_EQ(reader.ReadBody(2), "BO");
        EXPECT_EQ(reader.ReadBodyUntilClose(), "DY");
    }
}
