// The dashboard in a real browser (headless Chromium over its DevTools pipe): signing in with
// the form, the totals on the page against `sk_kav --report --json` for the same days, names
// that visitors wrote shown as text with no dialog, no error and no element the page did not
// make, and the picture of the page for the README (written to $SKAV_SCREENSHOT_DIR when set).
// Skipped only when Chromium cannot run at all.
#include <cstdlib>
#include <unistd.h>

#include "dashboard/DashboardFixture.h"
#include "dashboard/DevToolsBrowser.h"
#include "stats/StatsRange.h"
#include "support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;

// The four totals as the page shows them, space-separated.
const char* const PageTotals = "['hits', 'pageviews', 'visitors', 'bots'].map(n => "
                               "document.getElementById('total-' + n).textContent).join(' ')";

// What the page holds that it did not make itself: other elements, event attributes, links
// that are not web or own addresses, scripts other than ours, and the hostile texts missing.
const char* const Intruders = R"js((() => {
  const made = new Set(['html', 'head', 'meta', 'title', 'link', 'body', 'header', 'h1', 'h2',
    'p', 'span', 'form', 'input', 'button', 'nav', 'ul', 'li', 'a', 'label', 'main', 'section',
    'dl', 'div', 'dt', 'dd', 'figure', 'svg', 'line', 'text', 'rect', 'polyline', 'figcaption',
    'table', 'caption', 'thead', 'tbody', 'tr', 'th', 'td', 'script']);
  const odd = [];
  for (const e of document.querySelectorAll('*')) {
    if (!made.has(e.localName)) odd.push('element ' + e.localName);
    for (const a of e.attributes)
      if (a.name.startsWith('on')) odd.push('attribute ' + a.name);
  }
  for (const a of document.querySelectorAll('a[href]'))
    if (!/^(https?:\/\/|\/)/i.test(a.getAttribute('href'))) odd.push('link ' + a.getAttribute('href'));
  const scripts = [...document.scripts].map(s => s.getAttribute('src'));
  if (scripts.join() !== '/dashboard.js') odd.push('scripts ' + scripts.join());
  for (const t of ['<script>alert(1)</script>', '"><img src=x onerror=alert(1)>', 'javascript:alert(1)'])
    if (!document.body.textContent.includes(t)) odd.push('not shown: ' + t);
  return JSON.stringify(odd);
})())js";

std::string NumberOf(const std::string& AJson, const std::string& AName) {
    const std::string key = "\"" + AName + "\":";
    const std::size_t at = AJson.find(key);
    return at == std::string::npos
               ? std::string()
               : AJson.substr(at + key.size(), AJson.find(',', at) - at - key.size());
}

class DashboardBrowserTest : public DashboardFixture {
protected:
    void SetUp() override {
        if (access(ChromiumProgram, X_OK) != 0)
            GTEST_SKIP() << ChromiumProgram << " is not installed (tools/deps.sh test installs it)";
        DashboardFixture::SetUp();
    }

    // The browser, signed in through the form; skips when it cannot run.
    std::unique_ptr<DevToolsBrowser> SignedInBrowser() {
        auto browser = std::make_unique<DevToolsBrowser>(FDir.Path() + "chromium-profile");
        if (!browser->Ready() || !browser->Navigate(Url("/signin")))
            return nullptr;
        EXPECT_EQ(browser->Evaluate("document.title"), "sk_KAV statistics: sign in");
        EXPECT_TRUE(browser->RunAndWaitForLoad(
            "document.querySelector('input[name=password]').value = 'correct horse';"
            "document.querySelector('form').submit()"));
        EXPECT_EQ(browser->Evaluate("location.pathname"), "/");
        return browser;
    }
    std::string Url(const std::string& ATarget) const {
        return "http://127.0.0.1:" + std::to_string(FDashPort) + ATarget;
    }
};

TEST_F(DashboardBrowserTest, TheSignedInPageShowsWhatTheReportSays) {
    const TLogDay today = Today();
    WriteDay(AddDays(today, -3), SampleDayLines(AddDays(today, -3)));
    WriteDay(AddDays(today, -1), SampleDayLines(AddDays(today, -1)));
    StartBoth();
    for (const char* agent : {"Mozilla/5.0 Firefox/120.0", "Mozilla/5.0 Chrome/120.0", "curl/8"})
        Get("/t.gif?page=%2Ftoday", std::string("User-Agent: ") + agent + "\r\n");
    auto browser = SignedInBrowser();
    if (!browser)
        GTEST_SKIP() << "chromium cannot run here";
    ASSERT_TRUE(browser->Navigate(Url("/?range=7d")));
    const std::string shown = browser->Evaluate(PageTotals);

    const std::string report =
        RunToFile({SKAV_PROGRAM, "--report", "--from", FileDayText(AddDays(today, -6)), "--to",
                   FileDayText(today), "--dir", FDir.Path(), "--json"},
                  FDir.Path() + "report.json", 30s);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(shown, NumberOf(report, "hits") + " " + NumberOf(report, "pageviews") + " " +
                         NumberOf(report, "visitors") + " " + NumberOf(report, "bots"))
        << report;
    EXPECT_EQ(shown, "9 6 4 3");
    EXPECT_EQ(browser->Complaints(), std::vector<std::string>());
}

TEST_F(DashboardBrowserTest, NamesThatVisitorsWroteAreShownAsText) {
    StartBoth();
    for (const char* text :
         {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "javascript:alert(1)"}) {
        std::string query;
        for (const char c : std::string(text)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            query += hex;
        }
        Get("/t.gif?page=" + query + "&ref=" + query, std::string("User-Agent: ") + text + "\r\n");
        Get("/t.gif",
            std::string("Referer: ") + text + "\r\nUser-Agent: Mozilla/5.0 " + text + "\r\n");
    }
    auto browser = SignedInBrowser();
    if (!browser)
        GTEST_SKIP() << "chromium cannot run here";
    ASSERT_TRUE(browser->Navigate(Url("/?more=pages")));
    EXPECT_EQ(browser->Evaluate(Intruders), "[]");
    EXPECT_EQ(browser->Complaints(), std::vector<std::string>());
}

TEST_F(DashboardBrowserTest, APictureOfAWeek) {
    const TLogDay today = Today();
    const std::string firefox = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko Firefox/120.0";
    const std::string chrome = "Mozilla/5.0 (Windows NT 10.0) AppleWebKit Chrome/120.0 Safari";
    const std::string pages[] = {"%2F",        "%2Fblog%2Fhello-world", "%2Fabout",
                                 "%2Fcontact", "%2Fblog%2Fsecond-post", "%2Fshop%2Fcart"};
    const std::string sources[] = {"", "&ref=https%3A%2F%2Fsearch.example%2F%3Fq%3Dkav",
                                   "&ref=https%3A%2F%2Fnews.example%2F", "",
                                   "&ref=https%3A%2F%2Fsocial.example%2Fpost%2F7"};
    for (int back = 13; back >= 0; --back) {
        const TLogDay day = AddDays(today, -back);
        std::string lines;
        for (int i = 0; i < 60 + (back * 37) % 50; ++i)
            lines +=
                PageViewLine(day, 6 + (i * 7 + back) % 16, "198.51.100." + std::to_string(i % 29),
                             pages[(i * i + back) % 6] + sources[(i + back) % 5],
                             i % 4 == 3 ? "Googlebot/2.1"
                             : i % 3    ? firefox
                                        : chrome);
        WriteDay(day, lines);
    }
    StartBoth();
    auto browser = SignedInBrowser();
    if (!browser)
        GTEST_SKIP() << "chromium cannot run here";
    ASSERT_TRUE(browser->Navigate(Url("/?range=7d")));
    const std::string png = browser->Screenshot();
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    if (const char* dir = std::getenv("SKAV_SCREENSHOT_DIR")) {
        std::FILE* file = std::fopen((std::string(dir) + "/browser-dashboard.png").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(png.data(), 1, png.size(), file);
        std::fclose(file);
    }
    EXPECT_EQ(browser->Complaints(), std::vector<std::string>());
}

} // namespace
