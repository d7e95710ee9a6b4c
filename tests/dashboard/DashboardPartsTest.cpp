// The dashboard's parts in memory: texts where they stand in a page, the query of a view, the
// stored password, and the time rules of sessions and the sign-in throttle on a fixed clock.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "dashboard/DashboardPassword.h"
#include "dashboard/DashboardQuery.h"
#include "dashboard/HtmlText.h"
#include "dashboard/TDashboardSessions.h"
#include "dashboard/TSignInThrottle.h"

namespace {

using namespace std::chrono_literals;

TEST(DashboardPartsTest, TextsAreEscapedWhereTheyStand) {
    EXPECT_EQ(HtmlText("<a href=\"x\" title='y'>&amp;</a>"),
              "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
    EXPECT_EQ(QueryValue("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
    const struct {
        const char* Url;
        bool Link;
        const char* Address; // in an href, when a link
    } cases[] = {
        {"https://example.org/a?b=1&c=2#d", true, "https://example.org/a?b=1&amp;c=2#d"},
        {"HTTP://Example.org/\"><script>", true, "HTTP://Example.org/%22%3E%3Cscript%3E"},
        {"http://x/\\x01'`", true, "http://x/%5Cx01%27%60"},
        {"https://x/ü", true, "https://x/%C3%BC"},
        {"javascript:alert(1)", false, ""},
        {"JavaScript://%0aalert(1)", false, ""},
        {" https://x/", false, ""},
        {"https://x/ y", false, ""},
        {"data:text/html,<script>", false, ""},
        {"//example.org/", false, ""},
        {"example.org", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsWebLink(c.Url), c.Link) << c.Url;
        if (c.Link) {
            EXPECT_EQ(LinkAddress(c.Url), c.Address) << c.Url;
        }
    }
}

TEST(DashboardPartsTest, AViewAsksForANamedRangeOrItsDays) {
    const TLogDay today{2026, 3, 2};
    const std::string tooLong = "range=7d&instance=" + std::string(MaxInstanceBytes + 1, 'x');
    const struct {
        const char* Query;
        TLogDay From;
        TLogDay To;
        const char* Preset;
        const char* More;
        bool Error;
        const char* Instance = "";
    } cases[] = {
        {"", today, today, "today", "", false},
        {"range=yesterday", {2026, 3, 1}, {2026, 3, 1}, "yesterday", "", false},
        {"range=7d&more=pages", {2026, 2, 24}, today, "7d", "pages", false},
        {"range=30d", {2026, 2, 1}, today, "30d", "", false},
        {"range=month", {2026, 3, 1}, today, "month", "", false},
        {"from=20240228&to=2024-03-01", {2024, 2, 28}, {2024, 3, 1}, "", "", false},
        {"from=2026-02-27", {2026, 2, 27}, today, "", "", false},
        {"to=20260101&range=7d", {2026, 1, 1}, {2026, 1, 1}, "", "", false},
        {"from=20260101&to=20251231", today, today, "today", "", true},
        {"from=20250101&to=20260102", today, today, "today", "", true}, // 367 days
        {"from=20250102&to=20260102", {2025, 1, 2}, {2026, 1, 2}, "", "", false},
        {"from=20230229", today, today, "today", "", true},
        {"range=decade", today, today, "today", "", true},
        {"more=%3Cscript%3E", today, today, "today", "", false},
        {"range=7d&instance=", {2026, 2, 24}, today, "7d", "", false},
        {"instance=a%20b", today, today, "today", "", false, "a b"},
        {tooLong.c_str(), today, today, "today", "", true},
    };
    for (const auto& c : cases) {
        const TDashboardQuery query = ParseDashboardQuery(c.Query, today);
        EXPECT_EQ(query.From, c.From) << c.Query;
        EXPECT_EQ(query.To, c.To) << c.Query;
        EXPECT_EQ(query.Preset, c.Preset) << c.Query;
        EXPECT_EQ(query.More, c.More) << c.Query;
        EXPECT_EQ(!query.Error.empty(), c.Error) << c.Query;
        EXPECT_EQ(query.Instance, c.Instance) << c.Query;
    }
    TLogDay from, to;
    PeriodBefore(ParseDashboardQuery("from=20260301&to=20260307", today), from, to);
    EXPECT_EQ(from, (TLogDay{2026, 2, 22}));
    EXPECT_EQ(to, (TLogDay{2026, 2, 28}));
    EXPECT_EQ(ParseDashboardQuery("from=20260301&to=20260307", today).RangeText(),
              "from=20260301&to=20260307");
    // The instance stays in every link, made safe for the URL.
    EXPECT_EQ(ParseDashboardQuery("range=7d&instance=%3Ca%26b%3E", today).RangeText(),
              "range=7d&instance=%3Ca%26b%3E");
}

TEST(DashboardPartsTest, APasswordIsKeptSaltedAndCheckedByItsOwnRounds) {
    const std::string stored = MakePasswordHash("pässword", 1000);
    EXPECT_TRUE(stored.starts_with("pbkdf2-sha256$1000$")) << stored;
    EXPECT_EQ(stored.size(), std::string("pbkdf2-sha256$1000$").size() + 32 + 1 + 64);
    EXPECT_NE(MakePasswordHash("pässword", 1000), stored); // a new salt each time
    EXPECT_TRUE(PasswordMatches("pässword", stored));
    EXPECT_FALSE(PasswordMatches("Pässword", stored));
    EXPECT_FALSE(PasswordMatches("", stored));
    EXPECT_TRUE(MakePasswordHash("x").starts_with("pbkdf2-sha256$600000$"));
    // RFC 7914's PBKDF2-HMAC-SHA-256 vector: "passwd", salt "salt", 1 round.
    const std::string vector =
        "pbkdf2-sha256$1$73616c74$55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc";
    EXPECT_TRUE(PasswordMatches("passwd", vector));
    for (const std::string& bad : std::vector<std::string>{
             std::string(), std::string("plain"), "pbkdf2-sha1$1$73616c74$55ac",
             "pbkdf2-sha256$0$73616c74$" + stored.substr(stored.rfind('$') + 1),
             "pbkdf2-sha256$100000001$73616c74$" + stored.substr(stored.rfind('$') + 1),
             "pbkdf2-sha256$1$$55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc",
             "pbkdf2-sha256$1$73616c74$55ac", stored + "$", "pbkdf2-sha256$1x$00$00"}) {
        EXPECT_FALSE(ValidPasswordHash(bad)) << bad;
        EXPECT_FALSE(PasswordMatches("passwd", bad)) << bad;
    }
}

class FixedClock {
public:
    std::chrono::steady_clock::time_point Now = std::chrono::steady_clock::time_point(1h);
    std::function<std::chrono::steady_clock::time_point()> Fn() {
        return [this] { return Now; };
    }
};

TEST(DashboardPartsTest, SessionsEndWhenIdleAndTheSignedInOnesOutliveAFloodOfForms) {
    FixedClock clock;
    TDashboardSessions sessions(clock.Fn());
    const auto pending = sessions.StartPending();
    ASSERT_TRUE(pending);
    const auto signedIn = sessions.SignIn(pending->Id);
    ASSERT_TRUE(signedIn && signedIn->SignedIn);
    EXPECT_FALSE(sessions.Find(pending->Id));
    for (std::size_t i = 0; i < TDashboardSessions::MaxPending + 10; ++i)
        ASSERT_TRUE(sessions.StartPending());
    clock.Now += 7h + 59min;
    ASSERT_TRUE(sessions.Find(signedIn->Id)); // used: idle from now
    clock.Now += 7h + 59min;
    EXPECT_TRUE(sessions.Find(signedIn->Id));
    clock.Now += 8h;
    EXPECT_FALSE(sessions.Find(signedIn->Id));

    const auto form = sessions.StartPending();
    clock.Now += 30min;
    EXPECT_FALSE(sessions.Find(form->Id));
    EXPECT_FALSE(sessions.Find(""));
}

TEST(DashboardPartsTest, TheThrottleRefusesAClientForTheRestOfItsMinute) {
    FixedClock clock;
    TSignInThrottle throttle(clock.Fn());
    int retry = 0;
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FALSE(throttle.Refused("10.0.0.1", retry));
        EXPECT_EQ(throttle.Failed("10.0.0.1"), i == 5); // told once, at the fifth
        clock.Now += 10s;
    }
    EXPECT_TRUE(throttle.Refused("10.0.0.1", retry));
    EXPECT_EQ(retry, 10); // the minute began with the first failure
    EXPECT_FALSE(throttle.Refused("10.0.0.2", retry));
    clock.Now += 10s;
    EXPECT_FALSE(throttle.Refused("10.0.0.1", retry));
    // Beyond MaxClients addresses within a minute, the others share one allowance.
    for (std::size_t i = 0; i < TSignInThrottle::MaxClients; ++i)
        (void)throttle.Failed("c" + std::to_string(i));
    for (int i = 0; i < 5; ++i)
        (void)throttle.Failed("new" + std::to_string(i));
    EXPECT_TRUE(throttle.Refused("another", retry));
    clock.Now += 1min;
    EXPECT_FALSE(throttle.Refused("another", retry));
}

} // namespace
