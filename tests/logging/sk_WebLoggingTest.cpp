#include "logging/sk_WebLogging.h"

#include <gtest/gtest.h>

#include "support/ZoneAndClock.h"
#include "logging/LogText.h"
#include "logging/lib_rfc1123.h"

namespace {

const TDateTime kDec7 = EncodeDateTime(2026, 12, 7, 8, 49, 37, 125);
const std::string kDec7Text = "[07/Dec/2026:08:49:37 " + LogZoneTextAt(kDec7) + "]";

// The bracketed date of a line logged at a UTC instant in a zone, with the clock at that instant.
std::string LoggedAt(const char* AZone, std::chrono::system_clock::time_point AInstant) {
    ScopedTimeZone zone(AZone);
    ScopedClock clock(AInstant);
    return LogDateText(Now());
}

} // namespace

TEST(sk_WebLoggingTest, ZoneTextOfEachLineKeepsItsMinutesAndFollowsDaylightSaving) {
    const struct {
        const char* Zone;
        std::chrono::system_clock::time_point Instant;
        const char* Expected;
    } cases[] = {
        {ZoneBerlin, UtcInstant(2026, 12, 7, 7, 49, 37), "07/Dec/2026:08:49:37 +0100"},
        {ZoneNewYork, UtcInstant(2026, 12, 7, 13), "07/Dec/2026:08:00:00 -0500"},
        {ZoneUtc, UtcInstant(2026, 12, 7, 8), "07/Dec/2026:08:00:00 +0000"},
        {ZoneKiritimati, UtcInstant(2026, 12, 7), "07/Dec/2026:14:00:00 +1400"},
        {ZoneKolkata, UtcInstant(2026, 12, 7, 3, 19, 37), "07/Dec/2026:08:49:37 +0530"},
        {ZoneStJohns, UtcInstant(2026, 12, 7, 12), "07/Dec/2026:08:30:00 -0330"},
        {ZoneStJohns, UtcInstant(2026, 7, 7, 11), "07/Jul/2026:08:30:00 -0230"},
        // Clocks go forward on 29 March 2026 at 01:00 UTC, back on 25 October at 01:00 UTC.
        {ZoneBerlin, UtcInstant(2026, 3, 29, 0, 59, 59), "29/Mar/2026:01:59:59 +0100"},
        {ZoneBerlin, UtcInstant(2026, 3, 29, 1), "29/Mar/2026:03:00:00 +0200"},
        {ZoneBerlin, UtcInstant(2026, 10, 25, 0, 30), "25/Oct/2026:02:30:00 +0200"},
        {ZoneBerlin, UtcInstant(2026, 10, 25, 1, 30), "25/Oct/2026:02:30:00 +0100"},
        {ZoneNewYork, UtcInstant(2026, 7, 4, 16), "04/Jul/2026:12:00:00 -0400"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoggedAt(c.Zone, c.Instant), c.Expected) << c.Zone;
}

TEST(sk_WebLoggingTest, ALineLoggedLaterNamesItsOwnZoneNotTheCurrentOne) {
    // Lines for other days than today (a screen log saved late, a test clock) still carry the
    // offset of their own time.
    ScopedTimeZone zone(ZoneBerlin);
    ScopedClock summer(UtcInstant(2026, 7, 1, 12));
    EXPECT_EQ(LogDateText(EncodeDateTime(2026, 12, 7, 8, 49, 37)), "07/Dec/2026:08:49:37 +0100");
    EXPECT_EQ(LogDateText(EncodeDateTime(2026, 7, 7, 8, 49, 37)), "07/Jul/2026:08:49:37 +0200");
    EXPECT_EQ(LogZoneTextOf(1800), "-0030");
    EXPECT_EQ(LogZoneTextOf(-45900), "+1245");
}

TEST(sk_WebLoggingTest, DateTextIsTheLocalTimeRoundedToTheMillisecond) {
    // 23:59:59.9996 is already the next year.
    const TDateTime time = EncodeDateTime(2026, 12, 31, 23, 59, 59, 999) + 0.6 / MSecsPerDay;
    EXPECT_EQ(LogDateText(time), "01/Jan/2027:00:00:00 " + LogZoneTextAt(time));
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

// Quoted fields (request, referer, user agent) escape quotes, backslashes and every byte
// outside printable ASCII; the unquoted ones (host, identity, user) blanks and brackets too.
TEST(sk_WebLoggingTest, EscapesEveryTextFieldSoAHitStaysOneLine) {
    struct Case {
        std::string Raw, Quoted, Unquoted;
    };
    const Case cases[] = {
        {"plain ~{}-/?=&;:", "plain ~{}-/?=&;:", "plain\\x20~{}-/?=&;:"},
        {"say \"hi\"", "say \\x22hi\\x22", "say\\x20\\x22hi\\x22"},
        {"C:\\dir", "C:\\x5Cdir", "C:\\x5Cdir"},
        {"a\r\n1.2.3.4 - - [forged]", "a\\x0D\\x0A1.2.3.4 - - [forged]",
         "a\\x0D\\x0A1.2.3.4\\x20-\\x20-\\x20\\x5Bforged\\x5D"},
        {std::string("nul\0tab\t", 8), "nul\\x00tab\\x09", "nul\\x00tab\\x09"},
        {"del\x7F \xE9t\xC3\xA9 \xFF", "del\\x7F \\xE9t\\xC3\\xA9 \\xFF",
         "del\\x7F\\x20\\xE9t\\xC3\\xA9\\x20\\xFF"},
    };
    for (const auto& [raw, q, u] : cases)
        EXPECT_EQ(CombinedLogLine(raw, raw, raw, kDec7, raw, 200, 1, raw, raw),
                  u + " " + u + " " + u + " " + kDec7Text + " \"" + q + "\" 200 1 \"" + q +
                      "\" \"" + q + "\"");
}

// A Basic user "a b [c] d" can no longer shift the fields; a huge field is cut and marked.
TEST(sk_WebLoggingTest, FieldsStayInPlaceAndBounded) {
    const std::string line =
        CombinedLogLine("10.0.0.1", "", "a b [c] d", kDec7, std::string(9000, 'q'), 405, 0,
                        std::string(3000, 'u'), "");
    const std::string request = "\"" + std::string(LogRequestLimit, 'q') + "...\"";
    const std::string agent = "\"" + std::string(LogFieldLimit, 'u') + "...\"";
    EXPECT_EQ(line, "10.0.0.1 - a\\x20b\\x20\\x5Bc\\x5D\\x20d " + kDec7Text + " " + request +
                        " 405 0 \"\" " + agent);
    // The request may come in pieces: the same field as when joined first.
    EXPECT_EQ(CombinedLogLine("h", "", "", kDec7, {"GET", " ", "/x", " ", "", " ", "HTTP/1.1"}, 200,
                              1, "", ""),
              CombinedLogLine("h", "", "", kDec7, "GET /x  HTTP/1.1", 200, 1, "", ""));
}
