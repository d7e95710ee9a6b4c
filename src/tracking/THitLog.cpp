#include "tracking/THitLog.h"

#include <cmath>
#include <cstdio>
#include <strings.h>

#include "base/DateTime.h"
#include "config/config.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPResponseInfo.h"
#include "logging/sk_InetFuncs.h"
#include "logging/sk_WebLogging.h"
#include "logging/TSKX_Logger.h"

namespace {

bool SameTextIgnoringCase(const std::string& A, const std::string& B) {
    return A.size() == B.size() && strncasecmp(A.data(), B.data(), A.size()) == 0;
}

} // namespace

std::string LookupNickName(const std::vector<std::string>& ANickNames,
                           const std::string& AAddress) {
    for (const std::string& line : ANickNames) {
        std::size_t eq = line.find('=');
        if (eq != std::string::npos && SameTextIgnoringCase(line.substr(0, eq), AAddress))
            return line.substr(eq + 1);
    }
    return {};
}

bool IsNoLogAddress(const std::vector<std::string>& ANoLogs, const std::string& AAddress) {
    for (const std::string& line : ANoLogs)
        if (SameTextIgnoringCase(line, AAddress))
            return true;
    return false;
}

std::string DetailBlockOf(const THitFacts& AHit) {
    std::string block = "\r\n" + LongTimeStamp() + " -------------- \r\n";
    if (!AHit.NickName.empty())
        block += "NICKNAME: " + AHit.NickName + "\r\n";
    block += "From: " + AHit.HostName + " [" + AHit.RemoteIP + "]\r\n";
    block += "Command: " + AHit.Command + "\r\n";
    block += "Document: " + AHit.Document + "\r\n";
    if (!AHit.Params.empty()) {
        block += "--- URI PARAMS START:\r\n";
        for (const std::string& item : AHit.Params)
            block += item + "\r\n";
        block += "--- URI PARAMS END\r\n";
    }
    block += "--- HTTP HEADERS START:\r\n" + AHit.RawHeaderText + "--- HTTP HEADERS END";
    return block;
}

std::string OverviewLineOf(const std::string& AShortStamp, const THitFacts& AHit) {
    std::string nick = AHit.NickName.empty() ? std::string() : "(" + AHit.NickName + ")";
    return AShortStamp + " " + AHit.Command + " " + AHit.Document + " from " + nick + " " +
           AHit.RemoteIP + ":" + std::to_string(AHit.RemotePort) + " - [" + AHit.HostName +
           "] Ref.: " + AHit.Referer + " UA: " + AHit.UserAgent;
}

std::string ResponseHeaderBlockOf(const TNetHTTPResponseInfo& AResponse) {
    std::string block = "--- RESPONSE HEADER START:\r\n" + std::to_string(AResponse.StatusCode) +
                        " " + AResponse.StatusText + "\r\n";
    for (int i = 0; i < AResponse.Headers.Count(); ++i)
        block += AResponse.Headers.Strings(i) + "\r\n";
    block += "--- RESPONSE HEADER END\r\n";
    return block;
}

std::string RequestTextOf(const TNetHTTPRequestInfo& ARequest) {
    return ARequest.Command + " " + ARequest.Document + " " + ARequest.ParamText + " " +
           ARequest.Version;
}

THitLog::THitLog(std::shared_ptr<IScreenLists> AScreen,
                 std::shared_ptr<TSKX_Logger> AOverviewLogger,
                 std::shared_ptr<TSKX_Logger> ADetailLogger)
    : FScreen(std::move(AScreen)), FOverviewLogger(std::move(AOverviewLogger)),
      FDetailLogger(std::move(ADetailLogger)) {}

void THitLog::AddOverviewLine(const TKAV_GeneralConfig& ASettings, const std::string& AText) {
    AddScreenEntry(FOverview, ASettings.OverviewLogToScreen, ASettings.OverviewLimitScreenLog,
                   ASettings.OverviewScreenLogLines, AText);
}

void THitLog::AddDetailText(const TKAV_GeneralConfig& ASettings, const std::string& AText) {
    AddScreenEntry(FDetail, ASettings.DetailLogToScreen, ASettings.DetailLimitScreenLog,
                   ASettings.DetailScreenLogLines, AText);
}

void THitLog::LogResponseHeader(const TKAV_GeneralConfig& ASettings,
                                const TNetHTTPResponseInfo& AResponse) {
    AddDetailText(ASettings, ResponseHeaderBlockOf(AResponse));
}

void THitLog::AddScreenEntry(TScreenLogState& AState, bool AShown, bool ALimit, int ALines,
                             const std::string& AText) {
    std::lock_guard<std::mutex> guard(AState.Lock);
    int busy = ++AState.Busy;
    struct TBusyRelease {
        std::atomic<int>& Busy;
        ~TBusyRelease() { --Busy; }
    } release{AState.Busy};
    if (!AShown || !ScreenAttached())
        return;
    TScreenLog log = AState.Log;
    // Trimming only when no other append of this log is in progress.
    bool trim = ALimit && busy <= 1;
    int limit = ALines < 1 ? 1 : ALines;
    FScreen->RunOnFrontEnd([&] {
        if (trim)
            TrimScreenLog(log, limit);
        FScreen->AppendEntry(log, AText);
    });
}

void THitLog::TrimScreenLog(TScreenLog ALog, int ALimit) {
    // Cuts old text in proportion to the excess, so a long log shrinks in a few large cuts.
    IScreenLists& screen = *FScreen;
    if (screen.LineCount(ALog) <= std::lround(ALimit * 1.1))
        return;
    screen.SetUpdatesSuspended(ALog, true);
    while (screen.LineCount(ALog) > ALimit) {
        double ratio = static_cast<double>(screen.LineCount(ALog)) / ALimit;
        std::size_t len = screen.Text(ALog).size();
        std::size_t tenth = len / 10;
        std::size_t keep = static_cast<std::size_t>(std::llround(len / ratio));
        std::size_t cut = len - std::min(keep, len);
        if (cut < tenth)
            cut = tenth;
        // A tiny log whose rounding leaves nothing to cut would never shrink.
        if (cut == 0)
            cut = 1;
        screen.RemoveLeadingChars(ALog, cut);
    }
    screen.RemoveFirstLine(ALog);
    screen.SetUpdatesSuspended(ALog, false);
}

void THitLog::AddSysMessage(const std::string& AText) {
    if (!ScreenAttached())
        return;
    std::string line = LongTimeStamp() + ": " + AText;
    // Counting, cutting and appending form one change, so two threads cannot both cut.
    FScreen->RunOnFrontEnd([&] {
        while (FScreen->LineCount(TScreenLog::Messages) > MaxSysMessages)
            FScreen->RemoveFirstLine(TScreenLog::Messages);
        FScreen->AppendEntry(TScreenLog::Messages, line);
    });
}

void THitLog::ReportLogDirError(const TKAV_GeneralConfig& ASettings) {
    AddSysMessage("Error writing Logfile in Directory \"" + ASettings.LogDir + "\"");
}

void THitLog::WriteDetailFile(const TKAV_GeneralConfig& ASettings, const std::string& ABlock) {
    if (!FDetailLogger->WriteLog(ABlock))
        ReportLogDirError(ASettings);
}

void THitLog::WriteOverviewFileLine(const TKAV_GeneralConfig& ASettings, bool AWrite,
                                    const TNetHTTPRequestInfo& ARequest,
                                    const std::string& AHostName, const std::string& AReferer,
                                    const std::string& AUserAgent, int ALogStatus,
                                    long long ALogSize) {
    if (!AWrite)
        return;
    std::string line = CombinedLogLine(AHostName, "", ARequest.AuthUsername, Now(),
                                       RequestTextOf(ARequest), ALogStatus, static_cast<int>(ALogSize), AUserAgent,
                                       AReferer);
    if (!FOverviewLogger->WriteLog(line))
        ReportLogDirError(ASettings);
    else if (FOnOverviewLine)
        FOnOverviewLine(line);
}

void THitLog::DetachScreen() { FScreenDetached.store(true); }
