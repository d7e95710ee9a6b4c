#include "logging/sk_WebLogging.h"

#include <gtest/gtest.h>

#include "ZoneAndClock.h"
#include "logging/lib_rfc1123.h"

namespace {

const TDateTime kDec7 = EncodeDateTime(2026, 12, 7, 8, 49, 37, 125);
const std::string kDec7Text = "[07/Dec/2026:08:49:37 " + LogZoneText() + "]";

} // namespace

TEST(sk_WebLoggingTest, ZoneTextKeepsWholeHoursAndIsFixedAtStart) {
    const std::string fixed = LogZoneText();
    const std::pair<const char*, const char*> zones[] = {
        {ZoneBerlin, "+0100"},  {ZoneNewYork, "-0500"}, {ZoneUtc, "+0000"},
        {ZoneKolkata, "+0500"}, {ZoneStJohns, "-0300"}, {ZoneKiritimati, "+1400"}};
    ScopedClock clock(UtcInstant(2026, 12, 7, 12));
    for (const auto& [z, expected] : zones) {
        ScopedTimeZone zone(z);
        EXPECT_EQ(LogZoneTextOf(UtcBiasSeconds()), expected) << z;
        EXPECT_EQ(LogZoneText(), fixed);
    }
    EXPECT_EQ(LogZoneTextOf(1800), "+0000");
    EXPECT_EQ(LogZoneTextOf(43200), "-1200");
}

TEST(sk_WebLoggingTest, DateTextIsTheLocalTimeRoundedToTheMillisecond) {
    // 23:59:59.9996 is already the next year.
    EXPECT_EQ(LogDateText(EncodeDateTime(2026, 12, 31, 23, 59, 59, 999) + 0.6 / MSecsPerDay),
              "01/Jan/2027:00:00:00 " + LogZoneText());
}

TEST(sk_WebLoggingTest, BuildsCommonAndCombinedLines) {
    const std::string request = "GET /t.gif  HTTP/1.1";
    EXPECT_EQ(
        CombinedLogLine("192.168.0.7", "", "", kDec7, request, 200, 43, "Mozilla/4.0", "page1.htm"),
        "192.168.0.7 - - " + kDec7Text +
            " \"GET /t.gif  HTTP/1.1\" 200 43 \"page1.htm\" \"Mozilla/4.0\"");
    EXPECT_EQ(CommonLogLine("192.168.0.7", "", "bob", kDec7, request, 404, 0),
              "192.168.0.7 - bob " + kDec7Text + " \"GET /t.gif  HTTP/1.1\" 404 0");
    EXPECT_EQ(CombinedLogLine("", "id", "", kDec7, "", -1, -5, "", ""),
              " id - " + kDec7Text + " \"\" -1 -5 \"\" \"\"");
}

TEST(sk_WebLoggingTest, EscapesEveryTextFieldSoAHitStaysOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain ~{}-/?=&;:", "plain ~{}-/?=&;:"},
        {"say \"hi\"", "say \\x22hi\\x22"},
        {"C:\\dir", "C:\\x5Cdir"},
        {"a\r\n1.2.3.4 - - [forged]", "a\\x0D\\x0A1.2.3.4 - - [forged]"},
        {std::string("nul\0tab\t", 8), "nul\\x00tab\\x09"},
        {"del\x7F \xE9t\xC3\xA9 \xFF", "del\\x7F \\xE9t\\xC3\\xA9 \\xFF"},
    };
    for (const auto& [raw, w] : cases)
        EXPECT_EQ(CombinedLogLine(raw, raw, raw, kDec7, raw, 200, 1, raw, raw),
                  w + " " + w + " " + w + " " + kDec7Text + " \"" + w + "\" 200 1 \"" + w +
                      "\" \"" + w + "\"");
}
