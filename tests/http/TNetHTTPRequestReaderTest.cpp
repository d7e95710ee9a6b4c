#include "http/TNetHTTPRequestReader.h"

#include <gtest/gtest.h>

#include "http/NetHTTPExceptions.h"
#include "support/MemoryHTTPInput.h"

// Line ends, continuations and the body may arrive split anywhere.
TEST(TNetHTTPRequestReaderTest, SameResultWhateverTheSplit) {
    const std::string request = "GET /x HTTP/1.1\r\nA: 1\r\n b\r\n  \r\nBODY";
    for (size_t step = 1; step <= request.size(); ++step) {
        TMemoryHTTPInput input(request, step);
        TNetHTTPRequestReader reader(input, TNetHTTPLimits());
        EXPECT_EQ(reader.ReadLine(), "GET /x HTTP/1.1");
        TNetHeaderList headers;
        reader.ReadHeaders(headers);
        EXPECT_EQ(headers.Lines(), (std::vector<std::string>{"A: 1", " b", "  "})) << step;
        EXPECT_EQ(reader.ReadBody(2), "BO");
        EXPECT_EQ(reader.ReadBodyUntilClose(), "DY");
    }
}
