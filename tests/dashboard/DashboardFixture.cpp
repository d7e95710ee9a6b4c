#include "dashboard/DashboardFixture.h"

#include <cstdio>

#include "dashboard/DashboardPassword.h"
#include "support/LoopbackClient.h"

void DashboardFixture::SetUp() {
    TrackingFixture::SetUp();
    Configure([](TKAV_GeneralConfig& AConfig) {
        AConfig.OverviewLogToScreen = AConfig.DetailLogToScreen = false;
        AConfig.DashboardPasswordHash = MakePasswordHash(Password, 1000);
    });
}

void DashboardFixture::TearDown() {
    FDashboard.reset(); // before the tracking service its lines go to
    TrackingFixture::TearDown();
}

void DashboardFixture::StartBoth() {
    FService = std::make_unique<TTrackingService>(FScreen);
    FDashboard = std::make_unique<TDashboardService>(
        [this](const std::string& AText) { FService->AddSysMessage(AText); });
    FDashboard->SetAnyPortForTesting(true);
    FService->AddOnOverviewLine(FDashboard->OverviewLineSink());
    Start();
    TickDashboard();
    ASSERT_TRUE(FDashboard->Running()) << Messages();
}

void DashboardFixture::TickDashboard() {
    FDashboard->Tick();
    FDashPort = FDashboard->ListeningPort();
}

std::string DashboardFixture::Dash(const std::string& ARaw, const std::string& AFromIP) {
    if (AFromIP.empty())
        return Exchange(FDashPort, ARaw);
    LoopbackClient client;
    if (!client.Connect(FDashPort, AFromIP) || !client.Send(ARaw))
        return {};
    return client.ReadUntilClose();
}

std::string DashboardFixture::DashGet(const std::string& ATarget, const std::string& ACookie) {
    return Dash("GET " + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                (ACookie.empty() ? "" : "Cookie: sk_kav_session=" + ACookie + "\r\n") + "\r\n");
}

std::string DashboardFixture::DashPost(const std::string& ATarget, const std::string& ABody,
                                       const std::string& ACookie, const std::string& AFromIP) {
    return Dash("POST " + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                    (ACookie.empty() ? "" : "Cookie: sk_kav_session=" + ACookie + "\r\n") +
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(ABody.size()) + "\r\n\r\n" + ABody,
                AFromIP);
}

void DashboardFixture::OpenSignInForm(std::string& ACookie, std::string& AToken,
                                      const std::string& AFromIP) {
    const std::string form = Dash("GET /signin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", AFromIP);
    ACookie = CookieOf(form);
    AToken = FormTokenOf(form);
}

std::string DashboardFixture::SignIn() {
    std::string pending, token;
    OpenSignInForm(pending, token);
    const std::string answer =
        DashPost("/signin", "token=" + token + "&password=correct+horse", pending);
    EXPECT_EQ(StatusOf(answer), 303) << answer;
    return CookieOf(answer);
}

void DashboardFixture::WriteDay(const TLogDay& ADay, const std::string& AText) {
    FDir.WriteFile(FileDayText(ADay) + ".log", AText);
}

TLogDay DashboardFixture::Today() const {
    return LogDayOf(Now());
}

std::string PageViewLine(const TLogDay& ADay, int AHour, const std::string& AAddress,
                         const std::string& APage, const std::string& AUserAgent) {
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:00:00 +0000]", ADay.Day,
                  Months[ADay.Month - 1], ADay.Year, AHour);
    return AAddress + " - - " + stamp + " \"GET /t.gif page=" + APage +
           " HTTP/1.1\" 200 43 \"-\" \"" + AUserAgent + "\"\r\n";
}

std::string SampleDayLines(const TLogDay& ADay) {
    const std::string firefox = "Mozilla/5.0 Firefox/120.0";
    return PageViewLine(ADay, 8, "203.0.113.5", "%2Fa", firefox) +
           PageViewLine(ADay, 9, "203.0.113.5", "%2Fb", firefox) +
           PageViewLine(ADay, 9, "198.51.100.9", "%2Fa", "Googlebot/2.1");
}

std::string CookieOf(const std::string& AAnswer) {
    const std::string value = HeaderOf(AAnswer, "Set-Cookie");
    const std::string prefix = "sk_kav_session=";
    if (!value.starts_with(prefix))
        return {};
    return value.substr(prefix.size(), value.find(';') - prefix.size());
}

std::string FormTokenOf(const std::string& AAnswer) {
    const std::string mark = "name=\"token\" value=\"";
    const std::size_t at = AAnswer.find(mark);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + mark.size();
    return AAnswer.substr(start, AAnswer.find('"', start) - start);
}
