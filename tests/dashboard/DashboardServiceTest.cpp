// The dashboard on loopback beside the tracking service: the headers of every answer, sign-in
// and its throttle, the forms' token, the share link, ranges through the report's code, the
// day summaries made again, today counted live, names from visitors shown as text, the
// settings it follows, and the shared store's figures of all instances or one.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "base/ProgramDir.h"
#include "dashboard/DashboardFixture.h"
#include "dashboard/DashboardPassword.h"
#include "stats/DaySummaryFile.h"
#include "stats/StatsRange.h"
#include "stats/StatsReport.h"
#include "store/StoreTestHits.h"
#include "support/LoopbackClient.h"
#include "support/TLSTestClient.h"
#include "support/TestCertificates.h"
#include "support/TestPostgres.h"
#include "support/WaitUntil.h"

namespace {

using namespace std::chrono_literals;

const char* const Policy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                           "img-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
                           "form-action 'self'";

std::string FieldOf(const std::string& AJson, const std::string& AName) {
    const std::string key = "\"" + AName + "\":";
    const std::size_t at = AJson.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    return AJson.substr(start, AJson.find_first_of(",}", start) - start);
}

class DashboardServiceTest : public DashboardFixture {};

// Page views of today in the store, as an instance's writer writes them.
void PutStoreHits(const std::string& AConnection, const std::string& AInstance, int APageViews,
                  const std::string& APage) {
    std::string error;
    ASSERT_TRUE(PutStoreHitsNow(AConnection, AInstance, APageViews, APage, error)) << error;
}

TEST_F(DashboardServiceTest, EveryAnswerCarriesTheSafetyHeaders) {
    StartBoth();
    const std::string session = SignIn();
    const struct {
        std::string Raw;
        int Status;
        const char* Type; // Content-Type, when one is expected
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", 303, nullptr},
        {"GET / HTTP/1.1\r\nCookie: sk_kav_session=" + session + "\r\n\r\n", 200,
         "text/html; charset=utf-8"},
        {"HEAD /?range=7d HTTP/1.1\r\nCookie: sk_kav_session=" + session + "\r\n\r\n", 200,
         "text/html; charset=utf-8"},
        {"GET /api/stats HTTP/1.1\r\n\r\n", 401, "application/json"},
        {"GET /signin HTTP/1.1\r\n\r\n", 200, "text/html; charset=utf-8"},
        {"GET /dashboard.css HTTP/1.1\r\n\r\n", 200, "text/css; charset=utf-8"},
        {"GET /dashboard.js HTTP/1.1\r\n\r\n", 200, "text/javascript; charset=utf-8"},
        {"GET /favicon.svg HTTP/1.1\r\n\r\n", 200, "image/svg+xml"},
        {"GET /t.gif HTTP/1.1\r\n\r\n", 404, "text/html; charset=utf-8"},
        {"GET /share/0123456789abcdef HTTP/1.1\r\n\r\n", 404, nullptr},
        {"GET /signout HTTP/1.1\r\n\r\n", 405, nullptr},
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405, nullptr},
        {"POST /dashboard.js HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405, nullptr},
        {"DELETE / HTTP/1.1\r\n\r\n", 405, nullptr},
        {"OPTIONS * HTTP/1.1\r\n\r\n", 405, nullptr},
    };
    for (const auto& c : cases) {
        const std::string answer = Dash(c.Raw);
        SCOPED_TRACE(c.Raw);
        EXPECT_EQ(StatusOf(answer), c.Status) << answer.substr(0, 300);
        EXPECT_EQ(HeaderOf(answer, "Content-Security-Policy"), Policy);
        EXPECT_EQ(HeaderOf(answer, "X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(HeaderOf(answer, "Referrer-Policy"), "no-referrer");
        EXPECT_EQ(HeaderOf(answer, "Cache-Control"), "no-store");
        if (c.Type) {
            EXPECT_EQ(HeaderOf(answer, "Content-Type"), c.Type);
        }
        if (c.Status == 405) {
            EXPECT_FALSE(HeaderOf(answer, "Allow").empty());
        }
        if (c.Raw.starts_with("HEAD")) {
            EXPECT_EQ(BodyOf(answer), "");
        }
    }
    // The dashboard's port records no hit, and the tracking port answers no dashboard path.
    EXPECT_EQ(OverviewFile(), "");
    EXPECT_EQ(StatusOf(Get("/dashboard.css")), 404);
}

TEST_F(DashboardServiceTest, SignInGivesAFreshSessionThatOnlyTheFormsTokenEnds) {
    StartBoth();
    const std::string form = DashGet("/signin");
    EXPECT_EQ(HeaderOf(form, "Set-Cookie"),
              "sk_kav_session=" + CookieOf(form) + "; Path=/; HttpOnly; SameSite=Strict");
    const std::string pending = CookieOf(form);
    const std::string token = FormTokenOf(form);
    ASSERT_EQ(pending.size(), 64u);
    ASSERT_EQ(token.size(), 64u);
    // Without the form's token, or without the cookie it belongs to, the password is not looked at.
    EXPECT_EQ(StatusOf(DashPost("/signin", "password=correct+horse", pending)), 403);
    EXPECT_EQ(StatusOf(DashPost("/signin", "token=" + token + "&password=correct+horse", "")), 403);
    const std::string wrong = DashPost("/signin", "token=" + token + "&password=nope", pending);
    EXPECT_EQ(StatusOf(wrong), 403);
    EXPECT_NE(BodyOf(wrong).find("Wrong password."), std::string::npos);

    const std::string signedIn =
        DashPost("/signin", "token=" + token + "&password=correct+horse", pending);
    ASSERT_EQ(StatusOf(signedIn), 303) << signedIn;
    EXPECT_EQ(HeaderOf(signedIn, "Location"), "/");
    const std::string session = CookieOf(signedIn);
    EXPECT_NE(session, pending);
    EXPECT_EQ(StatusOf(DashGet("/", pending)), 303); // the planted id is worth nothing
    const std::string page = DashGet("/", session);
    ASSERT_EQ(StatusOf(page), 200);
    const std::string pageToken = FormTokenOf(page);
    EXPECT_NE(pageToken, token);

    EXPECT_EQ(StatusOf(DashPost("/signout", "", session)), 403);
    EXPECT_EQ(StatusOf(DashPost("/signout", "token=" + token, session)), 403);
    EXPECT_EQ(StatusOf(DashGet("/", session)), 200);
    const std::string out = DashPost("/signout", "token=" + pageToken, session);
    EXPECT_EQ(StatusOf(out), 303);
    EXPECT_EQ(HeaderOf(out, "Set-Cookie"),
              "sk_kav_session=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(StatusOf(DashGet("/", session)), 303);
    EXPECT_EQ(StatusOf(DashGet("/api/stats", session)), 401);
}

TEST_F(DashboardServiceTest, WrongPasswordsAreThrottledPerClientWithOneMessagesLine) {
    // Checks slow enough that a burst of wrong ones all wait for their turn at once: the
    // allowance counts those checked before, not those seen before the wait.
    Configure([](TKAV_GeneralConfig& AConfig) {
        AConfig.DashboardPasswordHash = MakePasswordHash(Password, PasswordRounds / 30);
    });
    StartBoth();
    std::string pending, token;
    OpenSignInForm(pending, token);
    std::vector<int> statuses(8);
    {
        std::vector<std::jthread> burst;
        for (int& status : statuses)
            burst.emplace_back([&] {
                status = StatusOf(DashPost("/signin", "token=" + token + "&password=x", pending));
            });
    }
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 403), 5);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 429), 3);
    for (const char* password : {"x", "correct+horse"}) {
        const std::string refused =
            DashPost("/signin", "token=" + token + "&password=" + password, pending);
        EXPECT_EQ(StatusOf(refused), 429);
        const int retry = std::atoi(HeaderOf(refused, "Retry-After").c_str());
        EXPECT_TRUE(retry >= 1 && retry <= 60) << retry;
    }
    // Another client signs in meanwhile.
    std::string otherPending, otherToken;
    OpenSignInForm(otherPending, otherToken, "127.0.0.2");
    EXPECT_EQ(StatusOf(DashPost("/signin", "token=" + otherToken + "&password=correct+horse",
                                otherPending, "127.0.0.2")),
              303);
    TickDashboard();
    const std::string line = "Dashboard: 5 wrong passwords within a minute from 127.0.0.1: its "
                             "sign-ins are refused until the minute is over";
    const std::string messages = Messages();
    EXPECT_NE(messages.find(line), std::string::npos) << messages;
    EXPECT_EQ(messages.find(line), messages.rfind(line));
}

TEST_F(DashboardServiceTest, TheShareLinkShowsAReadOnlyViewAndAWrongOneNothing) {
    const std::string token = "Shared-Link_0123456789";
    Configure([&](TKAV_GeneralConfig& AConfig) { AConfig.DashboardShareToken = token; });
    StartBoth();
    Get("/t.gif?page=%2Fshared", "User-Agent: Mozilla/5.0 Firefox/120.0\r\n");
    const std::string view = DashGet("/share/" + token + "/?range=7d");
    ASSERT_EQ(StatusOf(view), 200) << view;
    EXPECT_EQ(view.find("list-visitors"), std::string::npos);
    EXPECT_EQ(view.find("/signout"), std::string::npos);
    EXPECT_NE(view.find("href=\"/share/" + token + "/?range=30d\""), std::string::npos);
    const std::string json = BodyOf(DashGet("/share/" + token + "/api/stats"));
    EXPECT_NE(json.find("\"visitors_top\":[]"), std::string::npos) << json;
    EXPECT_EQ(FieldOf(json, "pageviews"), "1") << json;
    for (const std::string& target :
         std::vector<std::string>{"/share/Shared-Link_0123456788/", "/share/" + token + "x/",
                                  "/share/", "/share/" + token + "/signin"})
        EXPECT_EQ(StatusOf(DashGet(target)), 404) << target;

    // A token anybody could guess opens nothing, and the user hears why.
    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.DashboardShareToken = "short"; });
    TickDashboard();
    EXPECT_EQ(StatusOf(DashGet("/share/short/")), 404);
    EXPECT_NE(Messages().find("Dashboard: ShareToken must be at least 16"), std::string::npos);
}

TEST_F(DashboardServiceTest, ARangeAcrossAMissingDayIsWhatTheReportSays) {
    const TLogDay today = Today();
    const TLogDay first = AddDays(today, -3), missing = AddDays(today, -2),
                  last = AddDays(today, -1);
    WriteDay(first, SampleDayLines(first));
    WriteDay(last, SampleDayLines(last) + SampleDayLines(last));
    StartBoth();
    const std::string session = SignIn();
    const std::string query = "from=" + FileDayText(first) + "&to=" + FileDayText(last);
    const std::string json = BodyOf(DashGet("/api/stats?" + query, session));

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_EQ(RunStatsRangeReport(FileDayText(first), FileDayText(last), true, out, err), 0);
    std::rewind(out);
    std::string report(1 << 16, '\0');
    report.resize(std::fread(report.data(), 1, report.size(), out));
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(json, report);
    EXPECT_EQ(FieldOf(json, "pageviews"), "6");
    EXPECT_EQ(FieldOf(json, "visitors"), "2"); // the sum of each day's
    EXPECT_NE(json.find("{\"date\":\"" + IsoDayText(missing) + "\",\"pageviews\":0,"),
              std::string::npos);

    const std::string page = BodyOf(DashGet("/?" + query, session));
    EXPECT_NE(page.find("1 of the 3 days before today have no overview log file."),
              std::string::npos);
    EXPECT_NE(page.find("Visitors here are the sum of each day&#39;s visitors"), std::string::npos);
    EXPECT_NE(page.find("<dd id=\"total-pageviews\">6</dd>"), std::string::npos);
    // A range the page cannot show is said so, not guessed at.
    EXPECT_EQ(
        StatusOf(DashGet("/?from=" + FileDayText(last) + "&to=" + FileDayText(first), session)),
        400);
    EXPECT_EQ(StatusOf(DashGet("/api/stats?from=20200101&to=20261231", session)), 400);
}

TEST_F(DashboardServiceTest, AClosedDayIsSummarisedOnceAndAgainWhenItsFileGrows) {
    const TLogDay yesterday = AddDays(Today(), -1);
    WriteDay(yesterday, SampleDayLines(yesterday));
    StartBoth();
    const std::string session = SignIn();
    const std::string target =
        "/api/stats?from=" + FileDayText(yesterday) + "&to=" + FileDayText(yesterday);
    EXPECT_EQ(FieldOf(BodyOf(DashGet(target, session)), "pageviews"), "2");
    const std::string summary = FileDayText(yesterday) + ".stats";
    ASSERT_TRUE(FDir.Exists(summary));
    // Grown, and cut in the middle of its last line.
    const std::string more = SampleDayLines(yesterday);
    FDir.WriteFile(FileDayText(yesterday) + ".log",
                   SampleDayLines(yesterday) + more + more.substr(0, 40));
    const std::string grown = BodyOf(DashGet(target, session));
    EXPECT_EQ(FieldOf(grown, "pageviews"), "4");
    EXPECT_EQ(FieldOf(grown, "unreadable"), "1");
    // A damaged summary is read anew from the day's file.
    std::string damaged = FDir.ReadFile(summary);
    damaged[damaged.find("totals ") + 9] = '9';
    FDir.WriteFile(summary, damaged);
    EXPECT_EQ(FieldOf(BodyOf(DashGet(target, session)), "pageviews"), "4");
    EXPECT_NE(FDir.ReadFile(summary), damaged);
}

TEST_F(DashboardServiceTest, TodayIsCountedFromTheHitsAsTheyAreLogged) {
    WriteDay(Today(), SampleDayLines(Today()));
    StartBoth();
    const std::string session = SignIn();
    for (int i = 0; i < 5; ++i)
        Get("/t.gif?page=%2Flive", "User-Agent: Mozilla/5.0 Firefox/120.0\r\n");
    const std::string json = BodyOf(DashGet("/api/stats", session));
    EXPECT_EQ(FieldOf(json, "pageviews"), "7") << json;
    EXPECT_NE(json.find("{\"name\":\"/live\",\"views\":5}"), std::string::npos);
    // The page says when it counted.
    const std::string page = BodyOf(DashGet("/", session));
    EXPECT_NE(page.find("data-live=\"hours\""), std::string::npos);
    EXPECT_NE(page.find("<span id=\"asof\">"), std::string::npos);
}

TEST_F(DashboardServiceTest, NamesFromVisitorsAreShownAsText) {
    StartBoth();
    const std::string session = SignIn();
    const std::string hostile[] = {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>",
                                   "javascript:alert(1)"};
    for (const std::string& text : hostile) {
        const std::string escaped = [&] {
            std::string query;
            for (char c : text) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
                query += hex;
            }
            return query;
        }();
        Get("/t.gif?page=" + escaped + "&ref=" + escaped, "User-Agent: " + text + "\r\n");
        Get("/t.gif", "Referer: " + text + "\r\nUser-Agent: Mozilla/5.0 " + text + "\r\n");
    }
    const std::string page = BodyOf(DashGet("/?more=pages", session));
    for (const char* absent :
         {"<script>alert", "<img", "onerror=alert(1)>", "href=\"javascript", "\"><img"})
        EXPECT_EQ(page.find(absent), std::string::npos) << absent;
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(page.find("<td>javascript:alert(1)</td>"), std::string::npos);
}

TEST_F(DashboardServiceTest, ItFollowsItsSettingsWhateverTheTrackingServerDoes) {
    StartBoth();
    FService->StartStopServer(false);
    EXPECT_EQ(StatusOf(DashGet("/signin")), 200);
    FDashboard->SetAnyPortForTesting(false);
    const int port = FreePort();
    Configure([&](TKAV_GeneralConfig& AConfig) { AConfig.DashboardPort = port; });
    TickDashboard();
    ASSERT_EQ(FDashPort, port) << Messages();
    EXPECT_EQ(FDashboard->LocalAddress(), "http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_EQ(StatusOf(DashGet("/signin")), 200);

    // A hash written by hand that no password can match is told of.
    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.DashboardPasswordHash = "secret"; });
    TickDashboard();
    EXPECT_NE(Messages().find("Dashboard: PasswordHash is no hash that sk_kav "
                              "--dashboard-password writes: nobody can sign in."),
              std::string::npos);

    // Without a password it answers this machine only, without a sign-in, and says so.
    Configure([](TKAV_GeneralConfig& AConfig) {
        AConfig.DashboardPasswordHash.clear();
        AConfig.DashboardBindAddress = "0.0.0.0";
    });
    TickDashboard();
    EXPECT_EQ(FDashboard->LocalAddress(), "http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_NE(Messages().find("no password is set, so it listens on 127.0.0.1 only"),
              std::string::npos);
    EXPECT_NE(BodyOf(DashGet("/")).find("No password is set"), std::string::npos);
    EXPECT_EQ(HeaderOf(DashGet("/signin"), "Location"), "/");
    // A site whose name was pointed at 127.0.0.1 reads nothing through its visitor's browser.
    const std::string at = ":" + std::to_string(port);
    const struct {
        std::string Host;
        int Status;
    } hosts[] = {{"localhost" + at, 200},
                 {"LocalHost.", 200},
                 {"[::1]" + at, 200},
                 {"127.0.0.2", 200},
                 {"evil.example" + at, 403},
                 {"127.0.0.1.evil.example", 403},
                 {"localhost.evil.example", 403},
                 {"[::1]x", 403},
                 {"[fe80::1]" + at, 403}};
    for (const auto& h : hosts)
        for (const char* target : {"/", "/api/stats"})
            EXPECT_EQ(StatusOf(Dash(std::string("GET ") + target + " HTTP/1.1\r\nHost: " + h.Host +
                                    "\r\n\r\n")),
                      h.Status)
                << h.Host << target;

    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.DashboardBindAddress = "nowhere"; });
    TickDashboard();
    EXPECT_FALSE(FDashboard->Running());
    EXPECT_NE(Messages().find("BindAddress \"nowhere\" is no IPv4 or IPv6 address"),
              std::string::npos);
    Configure([](TKAV_GeneralConfig& AConfig) {
        AConfig.DashboardBindAddress = "127.0.0.1";
        AConfig.DashboardPort = 0;
    });
    TickDashboard();
    EXPECT_FALSE(FDashboard->Running());
    EXPECT_EQ(FDashPort, 0);
}

TEST_F(DashboardServiceTest, RequestLimitsAndRefusalsAreThoseOfTheTrackingPort) {
    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.MaxHeaderSize = 1024; });
    StartBoth();
    const std::string answer =
        Dash("GET /signin HTTP/1.1\r\nX-Pad: " + std::string(2000, 'a') + "\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 0); // closed unanswered
    EXPECT_TRUE(WaitUntil([&] {
        TickDashboard();
        return Messages().find("Dashboard: Refused") != std::string::npos;
    })) << Messages();
}

TEST_F(DashboardServiceTest, OverTlsTheSessionCookieIsSecure) {
    TTestCA authority;
    const TTestCertificate pair = authority.Issue({"127.0.0.1"}, 7);
    FDir.WriteFile("tls.pem", pair.ChainPem);
    FDir.WriteFile("tls.key", pair.KeyPem);
    Configure([&](TKAV_GeneralConfig& AConfig) {
        AConfig.TLSCertFile = FDir.Path() + "tls.pem";
        AConfig.TLSKeyFile = FDir.Path() + "tls.key";
    });
    StartBoth();
    const std::string answer = TLSExchange(FDashPort, "GET /signin HTTP/1.1\r\n\r\n");
    ASSERT_EQ(StatusOf(answer), 200) << Messages();
    EXPECT_EQ(HeaderOf(answer, "Set-Cookie"),
              "sk_kav_session=" + CookieOf(answer) + "; Path=/; HttpOnly; SameSite=Strict; Secure");
    EXPECT_EQ(StatusOf(DashGet("/signin")), 200); // plain HTTP on the same port
    EXPECT_TRUE(FDashboard->LocalAddress().starts_with("https://"));
}

// With a shared store the figures are every instance's from the database, or one instance's
// as the page's choice and its links keep it; a store that is down is said so, not shown as
// an error's details.
TEST_F(DashboardServiceTest, WithASharedStoreItShowsAllInstancesOrOne) {
    SKIP_WITHOUT_POSTGRES();
    const std::string connection = SharedTestPostgres()->MakeDatabase("dashboard");
    const std::string hostile = "<b>\"north\"&";
    PutStoreHits(connection, hostile, 3, "n");
    PutStoreHits(connection, "south", 2, "s");
    StartBoth();
    const std::string session = SignIn();
    // An instance needs a store.
    EXPECT_EQ(StatusOf(DashGet("/?instance=south", session)), 400);
    EXPECT_EQ(StatusOf(DashGet("/api/stats?instance=south", session)), 400);

    Configure([&](TKAV_GeneralConfig& AConfig) { AConfig.StoreConnection = connection; });
    // Today from the store, not from this instance's files or live count.
    Get("/t.gif?page=%2Flocal");
    const std::string all = BodyOf(DashGet("/api/stats", session));
    EXPECT_EQ(FieldOf(all, "pageviews"), "5") << all;
    EXPECT_EQ(all.find("/local"), std::string::npos) << all;
    const std::string south = BodyOf(DashGet("/api/stats?range=7d&instance=south", session));
    EXPECT_EQ(FieldOf(south, "pageviews"), "2") << south;
    EXPECT_NE(south.find("\"days\":[{"), std::string::npos) << south;
    const std::string north = BodyOf(DashGet("/api/stats?instance=%3Cb%3E%22north%22%26", session));
    EXPECT_EQ(FieldOf(north, "pageviews"), "3") << north;

    const std::string page = BodyOf(DashGet("/?range=7d&instance=south", session));
    EXPECT_NE(page.find("<option value=\"&lt;b&gt;&quot;north&quot;&amp;\">&lt;b&gt;&quot;"
                        "north&quot;&amp;</option>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<option value=\"south\" selected>south</option>"), std::string::npos);
    EXPECT_NE(page.find("href=\"/?range=30d&amp;instance=south\""), std::string::npos);
    EXPECT_NE(page.find("data-api=\"/api/stats?from="), std::string::npos);
    EXPECT_NE(page.find("&amp;instance=south\""), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("<dd id=\"total-pageviews\">2</dd>"), std::string::npos);

    SharedTestPostgres()->Stop();
    const std::string down = DashGet("/?instance=south", session);
    SharedTestPostgres()->Start();
    EXPECT_EQ(StatusOf(down), 503);
    EXPECT_NE(BodyOf(down).find("The shared store cannot be read now"), std::string::npos);
    EXPECT_EQ(BodyOf(down).find("socket"), std::string::npos) << BodyOf(down);
    EXPECT_NE(Messages().find("Dashboard: cannot read the shared store: "), std::string::npos)
        << Messages();
    // Back again: the connection the failure dropped is made anew.
    EXPECT_EQ(FieldOf(BodyOf(DashGet("/api/stats", session)), "pageviews"), "5");
}

} // namespace
