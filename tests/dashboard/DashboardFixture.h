// The tracking service and the dashboard on a temporary program directory, both on OS-chosen
// loopback ports, with a password of few rounds; requests with and without a session. One
// test thread.
#pragma once

#include <memory>
#include <string>

#include "dashboard/TDashboardService.h"
#include "stats/StatsFile.h"
#include "tracking/TrackingFixture.h"

class DashboardFixture : public TrackingFixture {
protected:
    static constexpr const char* Password = "correct horse";

    void SetUp() override;
    void TearDown() override;

    // Both servers, the dashboard handed each new line.
    void StartBoth();
    // One front-end tick of the dashboard (it follows the settings).
    void TickDashboard();

    // A raw request to the dashboard, from AFromIP when given (another loopback address).
    std::string Dash(const std::string& ARaw, const std::string& AFromIP = "");
    std::string DashGet(const std::string& ATarget, const std::string& ACookie = "");
    std::string DashPost(const std::string& ATarget, const std::string& ABody,
                         const std::string& ACookie, const std::string& AFromIP = "");
    // A pending session for the sign-in form: its cookie value and token.
    void OpenSignInForm(std::string& ACookie, std::string& AToken, const std::string& AFromIP = "");
    // Signs in with the password; the signed-in cookie value.
    std::string SignIn();

    // A day's overview file in the log directory.
    void WriteDay(const TLogDay& ADay, const std::string& AText);
    TLogDay Today() const;

    std::unique_ptr<TDashboardService> FDashboard;
    int FDashPort = 0;
};

// Two page views of 203.0.113.5 (/a at 08:00, /b at 09:00) and one of a bot, on ADay.
std::string SampleDayLines(const TLogDay& ADay);
// A combined line of a page view of APage by AAddress at AHour on ADay.
std::string PageViewLine(const TLogDay& ADay, int AHour, const std::string& AAddress,
                         const std::string& APage, const std::string& AUserAgent);

// The session id a Set-Cookie header of the answer gives, or empty.
std::string CookieOf(const std::string& AAnswer);
// The value of the hidden "token" field of a form in the answer, or empty.
std::string FormTokenOf(const std::string& AAnswer);
