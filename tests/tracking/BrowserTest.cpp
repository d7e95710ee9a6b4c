// A real browser (headless Chromium) loads a page that embeds the pixel as
// http://stats.test:PORT/p.gif, from an https page and from a plain one. From the https page the
// browser upgrades the image request to https on the same port (mixed content); the hit is
// recorded with the page as Referer, which a browser never sends from an https page to an http
// address, so the Referer also shows that the request came over TLS. Skipped only when Chromium
// cannot run at all.
#include <chrono>
#include <unistd.h>

#include "http/TNetHTTPServer.h"
#include "support/ChildProcess.h"
#include "support/TestCertificates.h"
#include "support/WaitUntil.h"
#include "tls/TNetTLSContext.h"
#include "tracking/TrackingFixture.h"

namespace {

using namespace std::chrono_literals;

// Runs the browser on AUrl until it has dumped the page or 60 s have passed; what it printed.
std::string LoadInChromium(const TempDir& ADir, const std::string& AUrl) {
    std::vector<std::string> args = HeadlessChromiumArgs(ADir.Path() + "chromium-profile");
    args.insert(args.end(),
                {"--host-resolver-rules=MAP stats.test 127.0.0.1, MAP pages.test 127.0.0.1",
                 "--ignore-certificate-errors", "--dump-dom", AUrl});
    return RunToFile(args, ADir.Path() + "chromium.out", 60s);
}

class BrowserTest : public TrackingFixture {
protected:
    void SetUp() override {
        if (access(ChromiumProgram, X_OK) != 0)
            GTEST_SKIP() << ChromiumProgram << " is not installed (tools/deps.sh test installs it)";
        TrackingFixture::SetUp();
        const TTestCertificate pair = FCA.Issue({"stats.test", "pages.test"}, 1);
        FDir.WriteFile("tls.pem", pair.ChainPem);
        FDir.WriteFile("tls.key", pair.KeyPem);
        Configure([&](TKAV_GeneralConfig& AConfig) {
            AConfig.TLSCertFile = FDir.Path() + "tls.pem";
            AConfig.TLSKeyFile = FDir.Path() + "tls.key";
        });
        Start();
        StartPageServer();
    }
    void TearDown() override {
        FPages.SetActive(false);
        TrackingFixture::TearDown();
    }

    // The page, on a port of its own that speaks both https and http like ours.
    void StartPageServer() {
        const std::string page =
            "<html><body><img src=\"http://stats.test:" + std::to_string(FPort) +
            "/p.gif?page=x\"></body></html>";
        FPages.OnCommandGet = [page](TNetPeerThread&, TNetHTTPRequestInfo& ARequest,
                                     TNetHTTPResponseInfo& AResponse) {
            if (ARequest.Document != "/") {
                AResponse.SetStatusCode(404);
                return;
            }
            AResponse.ContentType = "text/html";
            AResponse.ContentText = page;
        };
        std::string error;
        FPages.SetSecureAcceptor(
            TNetTLSContext::Load(FDir.Path() + "tls.pem", FDir.Path() + "tls.key", error));
        FPages.SetDefaultPort(0);
        FPages.Bindings().AddBinding().SetIP("127.0.0.1");
        FPages.SetActive(true);
        FPagesPort = FPages.Bindings().Items(0).Port();
    }

    // Loads the page; true when the hit with the browser's User-Agent and the page as Referer is
    // in the overview file.
    void ExpectHitFrom(const std::string& APage) {
        const std::string dom = LoadInChromium(FDir, APage);
        if (dom.find("<img") == std::string::npos)
            GTEST_SKIP() << "chromium cannot run here: it loaded no page";
        const std::string expected =
            "\"GET /p.gif page=x HTTP/1.1\" 200 43 \"" + APage + "\" \"Mozilla/5.0 ";
        EXPECT_TRUE(
            WaitUntil([&] { return OverviewFile().find(expected) != std::string::npos; }, 10s))
            << "expected " << expected << "\nin:\n"
            << OverviewFile() << Messages();
        EXPECT_NE(OverviewFile().find("HeadlessChrome/"), std::string::npos);
    }

    TTestCA FCA;
    TNetHTTPServer FPages;
    int FPagesPort = 0;
};

TEST_F(BrowserTest, AnHttpsPageUpgradesThePixelToHttpsOnTheSamePort) {
    ExpectHitFrom("https://pages.test:" + std::to_string(FPagesPort) + "/");
}

TEST_F(BrowserTest, APlainPageLoadsThePixelOverPlainHttp) {
    ExpectHitFrom("http://pages.test:" + std::to_string(FPagesPort) + "/");
}

} // namespace
