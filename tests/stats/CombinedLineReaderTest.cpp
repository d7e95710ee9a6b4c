// Reading combined lines back: our own request text, other writers' lines, escapes, and lines
// that must be refused (cut, no date, unbalanced quotes).
#include "stats/CombinedLineReader.h"

#include <gtest/gtest.h>

namespace {

struct TReadCase {
    const char* Line;
    const char* Host;
    int Hour;
    const char* Command;
    const char* Document;
    const char* Params;
    int Status;
    const char* Referer;
    const char* UserAgent;
};

TEST(CombinedLineReaderTest, ReadsOursAndOtherWritersLines) {
    const TReadCase cases[] = {
        // ours: parameter text in its own field, empty when there is none
        {R"(10.0.0.7 - - [07/Dec/2026:08:49:37 +0100] "GET /t.gif id=5&page=%2Fa HTTP/1.1" 200 43 "r" "ua")",
         "10.0.0.7", 8, "GET", "/t.gif", "id=5&page=%2Fa", 200, "r", "ua"},
        {R"(h - - [07/Dec/2026:23:00:00 -0330] "GET /t.gif  HTTP/1.1" 404 0 "" "")", "h", 23, "GET",
         "/t.gif", "", 404, "", ""},
        // a POST: body, escaped line break, query; a body with a blank stays in the parameters
        {R"(h - - [07/Dec/2026:01:00:00 +0530] "POST /x a b\x0D\x0Aq=1 HTTP/1.1" 405 0 "" "")", "h",
         1, "POST", "/x", "a b\r\nq=1", 405, "", ""},
        // escapes in every field, a hardened host, a user with a blank from an older writer
        {R"(my\x20host - bob smith [07/Dec/2026:12:00:00 +0000] "GET /\xC3\xA4.gif  HTTP/1.1" 304 0 "\x22r\x22" "\x01\x5C")",
         "my host", 12, "GET", "/\xC3\xA4.gif", "", 304, "\"r\"", "\x01\\"},
        // other writers: path?query, "-" for empty texts and sizes, \" escapes, extra fields, CR
        {R"(1.2.3.4 - - [07/Dec/2026:09:00:00 -0500] "GET /p.gif?page=x#f HTTP/1.0" 200 - "-" "a \"b\" \\")"
         "\r",
         "1.2.3.4", 9, "GET", "/p.gif", "page=x", 200, "", "a \"b\" \\"},
        {R"(1.2.3.4 - - [07/Dec/2026:09:00:00 +0100] "HEAD / HTTP/1.1" 200 5 "r" "u" "extra" 0.001)",
         "1.2.3.4", 9, "HEAD", "/", "", 200, "r", "u"},
        // a request that is no request is still a hit
        {R"(h - - [07/Dec/2026:10:00:00 +0100] "-" 400 0 "" "")", "h", 10, "-", "", "", 400, "",
         ""},
    };
    for (const TReadCase& c : cases) {
        THitLine hit;
        ASSERT_TRUE(ReadCombinedLine(c.Line, hit)) << c.Line;
        EXPECT_EQ(hit.Host, c.Host) << c.Line;
        EXPECT_EQ(hit.Hour, c.Hour) << c.Line;
        EXPECT_EQ(hit.Command, c.Command) << c.Line;
        EXPECT_EQ(hit.Document, c.Document) << c.Line;
        EXPECT_EQ(hit.Params, c.Params) << c.Line;
        EXPECT_EQ(hit.Status, c.Status) << c.Line;
        EXPECT_EQ(hit.Referer, c.Referer) << c.Line;
        EXPECT_EQ(hit.UserAgent, c.UserAgent) << c.Line;
    }
}

TEST(CombinedLineReaderTest, RefusesWhatIsNoCombinedLine) {
    const std::string good =
        R"(10.0.0.7 - - [07/Dec/2026:08:49:37 +0100] "GET /t.gif  HTTP/1.1" 200 43 "r" "ua")";
    THitLine hit;
    ASSERT_TRUE(ReadCombinedLine(good, hit));
    // A file cut while a line was written: every shorter piece of a good line is refused.
    for (std::size_t length = 0; length < good.size(); ++length)
        EXPECT_FALSE(ReadCombinedLine(good.substr(0, length), hit)) << good.substr(0, length);
    for (const char* line : {
             "garbage",
             R"( - - [07/Dec/2026:08:49:37 +0100] "GET / x HTTP/1.1" 200 43 "" "")", // no host
             R"(h - - [07/Foo/2026:08:49:37 +0100] "GET / x HTTP/1.1" 200 43 "" "")",
             R"(h - - [07/Dec/2026:24:00:00 +0100] "GET / x HTTP/1.1" 200 43 "" "")",
             R"(h - - [07/Dec/2026:08:49:37 0100] "GET / x HTTP/1.1" 200 43 "" "")",
             R"(h - - [07/Dec/2026:08:49:37 +0100] GET / x HTTP/1.1 200 43 "" "")",
             R"(h - - [07/Dec/2026:08:49:37 +0100] "GET / x HTTP/1.1" OK 43 "" "")",
             R"(h - - [07/Dec/2026:08:49:37 +0100] "GET / x HTTP/1.1" 200 43 "" "ua"x)",
             R"(h - - [07/Dec/2026:08:49:37 +0100] "GET / x HTTP/1.1" 200 43 "" "u"a")",
             R"(h - - [07/Dec/2026:08:49:37 +0100] "GET / x HTTP/1.1" 200 43)", // common format
         })
        EXPECT_FALSE(ReadCombinedLine(line, hit)) << line;
}

TEST(CombinedLineReaderTest, UnescapesOnlyWholeEscapes) {
    const struct {
        const char* Escaped;
        std::string Plain;
    } cases[] = {
        {R"(a\x41b)", "aAb"},        {R"(\x00)", std::string(1, '\0')},
        {R"(\xff\xFe)", "\xFF\xFE"}, {R"(\x4)", R"(\x4)"},
        {R"(\xZZ)", R"(\xZZ)"},      {R"(\"\\\n)", R"("\\n)"},
        {R"(end\)", R"(end\)"},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendUnescaped(c.Escaped, out);
        EXPECT_EQ(out, c.Plain) << c.Escaped;
    }
}

} // namespace
