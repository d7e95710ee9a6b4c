#include "tracking/TrackingFixture.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/DateTime.h"
#include "base/ProgramDir.h"
#include "support/LoopbackClient.h"

namespace {

std::atomic<long long> gClockMs{0};

std::chrono::system_clock::time_point FixedClock() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(gClockMs.load()));
}

std::string Join(const std::vector<std::string>& ALines) {
    std::string text;
    for (const auto& line : ALines)
        text += line + "\n";
    return text;
}

} // namespace

void SetTestClockUtcMs(long long AMilliseconds) {
    gClockMs = AMilliseconds;
    SetClockForTesting(FixedClock);
}

void ResetTestClock() {
    SetClockForTesting(nullptr);
}

void SetZone(const char* AZone) {
    setenv("TZ", AZone, 1);
    ReloadTimeZone();
}

std::string ReadContentFile(const std::string& AName) {
    std::ifstream in(std::string(SKAV_CONTENT_DIR) + AName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TrackingFixture::SetUp() {
    for (const char* name : {"1x1.gif", "index.htm", "robots.txt"})
        FDir.WriteFile(name, ReadContentFile(name));
    SetProgramDir(FDir.Path());
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) {
        AConfig = TKAV_GeneralConfig();
        AConfig.ServerPort = 0;
        AConfig.PortZeroAllowed = true;
        AConfig.LogDir = FDir.Path();
        AConfig.OverviewLogToScreen = AConfig.DetailLogToScreen = true;
        AConfig.OverviewLogToFile = AConfig.DetailLogToFile = true;
    });
    FScreen = std::make_shared<TMemoryScreenLists>();
}

void TrackingFixture::TearDown() {
    if (FService)
        FService->StartStopServer(false);
    FService.reset();
    ResetTestClock();
}

void TrackingFixture::Configure(const std::function<void(TKAV_GeneralConfig&)>& AChange) {
    ChangeGeneralConfig(AChange);
}

void TrackingFixture::Start() {
    if (!FService)
        FService = std::make_unique<TTrackingService>(FScreen);
    FService->StartStopServer(true);
    ASSERT_TRUE(FService->ServerRunning()) << Messages();
    FPort = FService->ListeningPort();
}

std::string TrackingFixture::Request(const std::string& ARaw) {
    return Exchange(FPort, ARaw);
}

std::string TrackingFixture::Get(const std::string& ATarget, const std::string& AExtraHeaders) {
    return Request("GET " + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + AExtraHeaders + "\r\n");
}

std::string TrackingFixture::Messages() {
    return Join(Lines(TScreenLog::Messages));
}

bool TrackingFixture::TickUntilMessage(const std::string& AText) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Messages().find(AText) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        FService->Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string TrackingFixture::DailyFileName(const std::string& AExtension) {
    TDateTimeParts today = DecodeDateTime(Now());
    char name[32];
    std::snprintf(name, sizeof(name), "%04d%02d%02d%s", today.Year, today.Month, today.Day,
                  AExtension.c_str());
    return name;
}

std::string TrackingFixture::DailyFile(const std::string& AExtension) {
    const std::string name = DailyFileName(AExtension);
    return FDir.Exists(name) ? FDir.ReadFile(name) : std::string();
}

std::string TrackingFixture::OverviewFile() {
    return DailyFile(".log");
}

std::string TrackingFixture::DetailFile() {
    return DailyFile(".log2");
}

int StatusOf(const std::string& AAnswer) {
    if (AAnswer.rfind("HTTP/1.1 ", 0) != 0 || AAnswer.size() < 12)
        return 0;
    return std::atoi(AAnswer.substr(9, 3).c_str());
}

std::string HeaderOf(const std::string& AAnswer, const std::string& AName) {
    std::string head = AAnswer.substr(0, AAnswer.find("\r\n\r\n") + 2);
    std::string key = "\r\n" + AName + ": ";
    std::size_t at = head.find(key);
    if (at == std::string::npos)
        return {};
    at += key.size();
    return head.substr(at, head.find("\r\n", at) - at);
}

bool HasHeader(const std::string& AAnswer, const std::string& AName) {
    std::string head = AAnswer.substr(0, AAnswer.find("\r\n\r\n") + 2);
    return head.find("\r\n" + AName + ":") != std::string::npos;
}

std::string BodyOf(const std::string& AAnswer) {
    std::size_t at = AAnswer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : AAnswer.substr(at + 4);
}
