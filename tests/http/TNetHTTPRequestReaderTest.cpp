#include "http/TNetHTTPRequestReader.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/MemoryHTTPInput.h"

namespace {

using Reason = TNetHTTPRefusalReason;

struct TOutcome {
    std::error_code Refusal;
    std::vector<std::string> Lines; // request line, then the header lines
    std::string Body;
};

// Reads a whole request: line, header block, the body its command and header announce.
TOutcome ReadAll(TNetHTTPRequestReader& AReader) {
    TOutcome outcome;
    std::string line;
    if ((outcome.Refusal = AReader.ReadLineWith([&](std::string_view ALine) { line = ALine; })))
        return outcome;
    outcome.Lines.push_back(line);
    TNetHeaderList headers;
    outcome.Refusal = AReader.ReadHeaders(headers);
    for (int i = 0; i < headers.Count(); ++i)
        outcome.Lines.emplace_back(headers.Strings(i));
    if (!outcome.Refusal)
        outcome.Refusal = AReader.ReadBody(headers, line.substr(0, line.find(' ')), outcome.Body);
    return outcome;
}

TOutcome ReadAll(const std::string& ABytes, size_t AStep, const TNetHTTPLimits& ALimits,
                 TNetHTTPMemoryBudget* ABudget = nullptr, bool AStall = false) {
    TMemoryHTTPInput input(ABytes, AStep, AStall);
    TNetHTTPRequestReader reader(input, ALimits, ABudget);
    return ReadAll(reader);
}

} // namespace

// Line ends, continuations and the body may arrive split anywhere.
TEST(TNetHTTPRequestReaderTest, SameResultWhateverTheSplit) {
    const std::pair<std::string, std::string> cases[] = {
        {"POST /x HTTP/1.1\r\nA: 1\r\n b\r\nContent-Length: 2\r\n  \r\nBODY", "BO"},
        {"POST /x HTTP/1.1\r\nA: 1\r\n b\r\n  \r\nBODY", "BODY"}, // until the close
        {"GET /x HTTP/1.1\r\nA: 1\r\n b\r\n  \r\nBODY", ""},
    };
    for (const auto& [request, body] : cases) {
        const std::string head = request.substr(0, request.find(' ')) + " /x HTTP/1.1";
        for (size_t step = 1; step <= request.size(); ++step) {
            const TOutcome outcome = ReadAll(request, step, TNetHTTPLimits());
            EXPECT_FALSE(outcome.Refusal) << step;
            EXPECT_EQ(outcome.Lines.front(), head);
            EXPECT_EQ(outcome.Lines.at(2), " b");
            EXPECT_EQ(outcome.Lines.back(), "  ");
            EXPECT_EQ(outcome.Body, body) << request << " in pieces of " << step;
        }
    }
}

// Every limit refuses with its own reason, wherever the bytes are split; one byte less passes.
TEST(TNetHTTPRequestReaderTest, EachLimitGivesItsReason) {
    using TSet = std::function<void(TNetHTTPLimits&)>;
    const TSet line9 = [](TNetHTTPLimits& L) { L.MaxLineLength = 9; };
    const TSet lines2 = [](TNetHTTPLimits& L) { L.MaxHeaderLines = 2; };
    const TSet header20 = [](TNetHTTPLimits& L) { L.MaxHeaderSize = 20; };
    const TSet body4 = [](TNetHTTPLimits& L) { L.MaxBodySize = 4; };
    const TSet none = [](TNetHTTPLimits&) {};
    const std::string post = "POST / HTTP/1.1\r\n";
    const struct {
        std::string Request;
        TSet Limits;
        std::error_code Expected;
    } cases[] = {
        {"GET /1234 HTTP/1.1\r\n\r\n", line9, Reason::LineTooLong},
        {"GET /12\r\nA: 123456\r\n\r\n", line9, {}},
        {"GET /12\r\nA: 1234567\r\n\r\n", line9, Reason::LineTooLong},
        {"GET /12\r\nA: 12345678", line9, Reason::LineTooLong}, // known before its end comes
        {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\n\r\n", lines2, {}},
        {"GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", lines2, Reason::TooManyHeaderLines},
        {"GET / HTTP/1.1\r\nA: 1234567\r\nB: 1\r\n\r\n", header20, {}}, // 20 with the end
        {"GET / HTTP/1.1\r\nA: 1234567\r\nB: 12\r\n\r\n", header20, Reason::HeaderTooLarge},
        {post + "Content-Length: 4\r\n\r\nabcd", body4, {}},
        {post + "Content-Length: 5\r\n\r\nabcde", body4, Reason::BodyTooLarge},
        {post + "\r\nabcd", body4, {}},
        {post + "\r\nabcde", body4, Reason::BodyTooLarge},
        {post + "Content-Length: 3 \r\nContent-Length:3\r\n\r\nabc", none, {}},
        {post + "Content-Length: -1\r\n\r\n", none, Reason::BadFraming},
        {post + "Content-Length: +3\r\n\r\nabc", none, Reason::BadFraming},
        {post + "Content-Length: 0x3\r\n\r\nabc", none, Reason::BadFraming},
        {post + "Content-Length: 3, 3\r\n\r\nabc", none, Reason::BadFraming},
        {post + "Content-Length:\r\n\r\n", none, Reason::BadFraming},
        {post + "Content-Length: 99999999999999999999\r\n\r\n", none, Reason::BadFraming},
        {post + "Content-Length: 3\r\ncontent-length: 4\r\n\r\nabcd", none, Reason::BadFraming},
        {post + "Content-Length: 3\r\nTransfer-Encoding: x\r\n\r\nabc", none, Reason::BadFraming},
        {post + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", none,
         Reason::BadFraming},
        {"GET / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n12", none, Reason::BadFraming},
    };
    for (const auto& c : cases) {
        TNetHTTPLimits limits;
        c.Limits(limits);
        for (size_t step = 1; step <= c.Request.size(); ++step)
            ASSERT_EQ(ReadAll(c.Request, step, limits).Refusal, c.Expected)
                << c.Request << " in pieces of " << step;
    }
}

TEST(TNetHTTPRequestReaderTest, ADeadlineForTheWholeRequest) {
    TNetHTTPLimits limits;
    limits.RequestTimeout = 30;
    const auto started = std::chrono::steady_clock::now();
    const TOutcome outcome = ReadAll("GET / HTTP/1.1\r\nA: 1\r\n", 1, limits, nullptr, true);
    EXPECT_EQ(outcome.Refusal, Reason::RequestTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(outcome.Lines.size(), 2u); // what came in time was read
}

// The budget is shared by all requests: what one holds, another cannot have until it is gone.
TEST(TNetHTTPRequestReaderTest, RequestsShareOneMemoryBudget) {
    const std::string request = "POST / HTTP/1.1\r\nContent-Length: 8\r\n\r\n12345678";
    TNetHTTPMemoryBudget budget;
    budget.SetLimit(request.size() + 10);
    for (size_t step : {size_t(1), size_t(7), request.size()}) {
        TMemoryHTTPInput firstInput(request, step);
        auto first = std::make_unique<TNetHTTPRequestReader>(firstInput, TNetHTTPLimits(), &budget);
        EXPECT_FALSE(ReadAll(*first).Refusal);
        EXPECT_EQ(budget.Held(), request.size());
        EXPECT_EQ(ReadAll(request, step, TNetHTTPLimits(), &budget).Refusal, Reason::MemoryBudget);
        EXPECT_EQ(budget.Held(), request.size()); // the refused one gave back what it had
        first.reset();
        EXPECT_EQ(budget.Held(), 0u);
        EXPECT_FALSE(ReadAll(request, step, TNetHTTPLimits(), &budget).Refusal);
    }
    budget.SetLimit(0); // no limit
    EXPECT_FALSE(
        ReadAll(request + std::string(1 << 20, 'x'), 4096, TNetHTTPLimits(), &budget).Refusal);
}
