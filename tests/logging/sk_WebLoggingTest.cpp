#include "logging/sk_WebLogging.h"

#include <gtest/gtest.h>

#include "ZoneAndClock.h"
#include "logging/lib_rfc1123.h"

namespace {

const TDateTime kDec7 = EncodeDateTime(2026, 12, 7, 8, 49, 37, 125);

std::string Bracket(const std::string& ADate) { return "[" + ADate + " " + LogZoneText() + "]"; }

} // namespace

TEST(sk_WebLoggingTest, ZoneTextKeepsWholeHoursOnly) {
    struct Case {
        int Bias;
        const char* Expected;
    };
    const Case cases[] = {{-3600, "+0100"}, {18000, "-0500"}, {0, "+0000"},
                          {-19800, "+0500"}, {12600, "-0300"}, {-50400, "+1400"},
                          {-36000, "+1000"}, {1800, "+0000"}, {43200, "-1200"}};
    for (const Case& c : cases)
        EXPECT_EQ(LogZoneTextOf(c.Bias), c.Expected) << c.Bias;

    struct ZoneCase {
        TTestZone Zone;
        const char* Expected;
    };
    const ZoneCase zones[] = {{ZoneBerlin, "+0100"},  {ZoneNewYork, "-0500"},
                              {ZoneUtc, "+0000"},     {ZoneKolkata, "+0500"},
                              {ZoneStJohns, "-0300"}, {ZoneKiritimati, "+1400"}};
    ScopedClock clock(UtcInstant(2026, 12, 7, 12));
    for (const ZoneCase& z : zones) {
        ScopedTimeZone zone(z.Zone);
        EXPECT_EQ(LogZoneTextOf(UtcBiasSeconds()), z.Expected) << z.Zone.Name;
    }
}

TEST(sk_WebLoggingTest, ZoneTextIsFixedByTheFirstCall) {
    const std::string first = LogZoneText();
    ScopedTimeZone zone(first == "+1400" ? ZoneUtc : ZoneKiritimati);
    EXPECT_EQ(LogZoneText(), first);
}

TEST(sk_WebLoggingTest, DateTextUsesTheLocalTimeUnchanged) {
    EXPECT_EQ(LogDateText(EncodeDateTime(2027, 1, 1, 0, 0, 5)),
              "01/Jan/2027:00:00:05 " + LogZoneText());
    EXPECT_EQ(LogDateText(kDec7), "07/Dec/2026:08:49:37 " + LogZoneText());
    // Rounded to the millisecond first: 23:59:59.9996 is already the next year.
    EXPECT_EQ(LogDateText(EncodeDateTime(2026, 12, 31, 23, 59, 59, 999) + 0.6 / MSecsPerDay),
              "01/Jan/2027:00:00:00 " + LogZoneText());
}

TEST(sk_WebLoggingTest, BuildsCommonAndCombinedLines) {
    const std::string request = "GET /t.gif  HTTP/1.1";
    EXPECT_EQ(CombinedLogLine("192.168.0.7", "", "", kDec7, request, 200, 43, "Mozilla/4.0",
                              "page1.htm"),
              "192.168.0.7 - - " + Bracket("07/Dec/2026:08:49:37") +
                  " \"GET /t.gif  HTTP/1.1\" 200 43 \"page1.htm\" \"Mozilla/4.0\"");
    EXPECT_EQ(CommonLogLine("192.168.0.7", "", "bob", kDec7, request, 404, 0),
              "192.168.0.7 - bob " + Bracket("07/Dec/2026:08:49:37") +
                  " \"GET /t.gif  HTTP/1.1\" 404 0");
    EXPECT_EQ(CommonLogLine("", "id", "", kDec7, "", -1, -5),
              " id - " + Bracket("07/Dec/2026:08:49:37") + " \"\" -1 -5");
    std::string empty = CombinedLogLine("h", "", "", kDec7, "GET / HTTP/1.0", 200, 1, "", "");
    EXPECT_EQ(empty.substr(empty.size() - 6), " \"\" \"\"");
}

TEST(sk_WebLoggingTest, EscapesEveryTextFieldSoAHitStaysOneLine) {
    struct Case {
        std::string Raw;
        std::string Written;
    };
    const Case cases[] = {
        {"plain text-/?=&;:", "plain text-/?=&;:"},
        {"say \"hi\"", "say \\x22hi\\x22"},
        {"C:\\dir", "C:\\x5Cdir"},
        {"a\r\n1.2.3.4 - - [forged]", "a\\x0D\\x0A1.2.3.4 - - [forged]"},
        {std::string("nul\0tab\t", 8), "nul\\x00tab\\x09"},
        {"del\x7F \xE9t\xC3\xA9 \xFF", "del\\x7F \\xE9t\\xC3\\xA9 \\xFF"},
        {"~ } {", "~ } {"},
    };
    for (const Case& c : cases) {
        const std::string& w = c.Written;
        EXPECT_EQ(CombinedLogLine(c.Raw, c.Raw, c.Raw, kDec7, c.Raw, 200, 1, c.Raw, c.Raw),
                  w + " " + w + " " + w + " " + Bracket("07/Dec/2026:08:49:37") + " \"" + w +
                      "\" 200 1 \"" + w + "\" \"" + w + "\"")
            << c.Written;
    }
}
