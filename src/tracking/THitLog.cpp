#include "tracking/THitLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/DateTime.h"
#include "config/config.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPResponseInfo.h"
#include "logging/LogText.h"
#include "logging/sk_InetFuncs.h"
#include "logging/sk_WebLogging.h"
#include "logging/TSKX_Logger.h"

namespace {

// A client's value in a record: escaped and cut.
void AppendValue(std::string& ABlock, std::string_view AValue) {
    AppendLogField(ABlock, {AValue}, TLogEscape::Text);
}

// One "Name: value" line of the detail block.
void AppendValueLine(std::string& ABlock, std::string_view AName, std::string_view AValue) {
    ABlock += AName;
    AppendValue(ABlock, AValue);
    ABlock += "\r\n";
}

// Appends the lines of one section of the detail block, each cut at LogFieldLimit and all of
// them at ALimit bytes; what is left out is marked by "..." (on the cut line, or on a line of
// its own). Every line ends in CR LF, the last one only when ABreakAfterLast.
template <typename TLineAt>
void AppendSection(std::string& ABlock, std::size_t ACount, TLineAt ALineAt, std::size_t ALimit,
                   bool ABreakAfterLast) {
    std::size_t left = ALimit;
    bool cut = false;
    for (std::size_t i = 0; i < ACount; ++i) {
        const std::string_view line = ALineAt(i);
        if (left == 0 && !line.empty()) {
            if (!cut)
                ABlock.append(LogCutMark).append("\r\n");
            return;
        }
        const std::size_t start = ABlock.size();
        cut = !AppendLogField(ABlock, {line}, TLogEscape::Text, std::min(LogFieldLimit, left));
        left -= std::min(left, ABlock.size() - start);
        if (i + 1 < ACount || ABreakAfterLast)
            ABlock += "\r\n";
    }
}

} // namespace

std::string LookupNickName(const std::vector<std::string>& ANickNames,
                           const std::string& AAddress) {
    const std::string key = TAddressIndex::KeyOf(AAddress);
    for (const std::string& line : ANickNames) {
        std::size_t eq = line.find('=');
        if (eq != std::string::npos && TAddressIndex::KeyOf(line.substr(0, eq)) == key)
            return line.substr(eq + 1);
    }
    return {};
}

bool IsNoLogAddress(const std::vector<std::string>& ANoLogs, const std::string& AAddress) {
    const std::string key = TAddressIndex::KeyOf(AAddress);
    for (const std::string& line : ANoLogs)
        if (TAddressIndex::KeyOf(line) == key)
            return true;
    return false;
}

std::string NickNameOf(const TKAV_GeneralConfig& ASettings, const std::string& AAddress) {
    if (!ASettings.Indexes.NickNames)
        return LookupNickName(ASettings.NickNames, AAddress);
    const std::string* name = ASettings.Indexes.NickNames->Find(AAddress);
    return name ? *name : std::string();
}

bool IsOnNoLogList(const TKAV_GeneralConfig& ASettings, const std::string& AAddress) {
    if (!ASettings.Indexes.NoLogs)
        return IsNoLogAddress(ASettings.NoLogs, AAddress);
    return ASettings.Indexes.NoLogs->Find(AAddress) != nullptr;
}

std::string DetailBlockOf(const THitFacts& AHit) {
    // Room for the fixed lines and every field as it stands, so that the block is built in one
    // allocation unless escapes make it longer.
    std::size_t room = 256 + AHit.HostName.size() + AHit.RemoteIP.size() + AHit.ProxyIP.size() +
                       AHit.NickName.size() + AHit.Command.size() + AHit.Document.size();
    for (const std::string& param : AHit.Params)
        room += param.size() + 2;
    if (AHit.HeaderLines)
        room += AHit.HeaderLines->TextSize();
    std::string block;
    block.reserve(std::min(room, DetailParamsLimit + DetailHeadersLimit + 1024));
    block += "\r\n";
    AppendLongTimeStamp(block);
    block += " -------------- \r\n";
    if (!AHit.NickName.empty())
        AppendValueLine(block, "NICKNAME: ", AHit.NickName);
    block += "From: ";
    AppendValue(block, AHit.HostName);
    block += " [";
    AppendValue(block, AHit.RemoteIP);
    block += "]\r\n";
    if (!AHit.ProxyIP.empty())
        AppendValueLine(block, "Proxy: ", AHit.ProxyIP);
    AppendValueLine(block, "Command: ", AHit.Command);
    AppendValueLine(block, "Document: ", AHit.Document);
    if (!AHit.Params.empty()) {
        block += "--- URI PARAMS START:\r\n";
        AppendSection(
            block, AHit.Params.size(),
            [&](std::size_t AIndex) -> std::string_view { return AHit.Params[AIndex]; },
            DetailParamsLimit, true);
        block += "--- URI PARAMS END\r\n";
    }
    // The header lines joined by CR LF; the closing empty line gives the last its line end.
    block += "--- HTTP HEADERS START:\r\n";
    if (AHit.HeaderLines) {
        const TNetHeaderList& headers = *AHit.HeaderLines;
        AppendSection(
            block, static_cast<std::size_t>(headers.Count()),
            [&](std::size_t AIndex) { return headers.Strings(static_cast<int>(AIndex)); },
            DetailHeadersLimit, false);
    }
    block += "--- HTTP HEADERS END";
    return block;
}

std::string OverviewLineOf(const std::string& AShortStamp, const THitFacts& AHit) {
    std::string line = AShortStamp + " ";
    AppendValue(line, AHit.Command);
    line += ' ';
    AppendValue(line, AHit.Document);
    line += " from ";
    if (!AHit.NickName.empty())
        AppendLogField(line, {"(", AHit.NickName, ")"}, TLogEscape::Text);
    line += ' ';
    // An IPv6 address in brackets, so its port stands apart from its groups.
    const bool v6 = AHit.RemoteIP.find(':') != std::string_view::npos;
    if (v6)
        line += '[';
    AppendValue(line, AHit.RemoteIP);
    line += (v6 ? "]:" : ":") + std::to_string(AHit.RemotePort) + " - [";
    AppendValue(line, AHit.HostName);
    line += "] Ref.: ";
    AppendValue(line, AHit.Referer);
    line += " UA: ";
    AppendValue(line, AHit.UserAgent);
    return line;
}

std::string ResponseHeaderBlockOf(const TNetHTTPResponseInfo& AResponse) {
    std::string block = "--- RESPONSE HEADER START:\r\n" + std::to_string(AResponse.StatusCode) +
                        " " + AResponse.StatusText + "\r\n";
    for (int i = 0; i < AResponse.Headers.Count(); ++i)
        block.append(AResponse.Headers.Strings(i)).append("\r\n");
    block += "--- RESPONSE HEADER END\r\n";
    return block;
}

THitLog::THitLog(std::shared_ptr<IScreenLists> AScreen,
                 std::shared_ptr<TSKX_Logger> AOverviewLogger,
                 std::shared_ptr<TSKX_Logger> ADetailLogger, TMessageThrottle::TClock AClock)
    : FScreen(std::move(AScreen)), FOverviewLogger(std::move(AOverviewLogger)),
      FDetailLogger(std::move(ADetailLogger)),
      FMessages([this](const std::string& AText) { AddSysMessage(AText); }, std::move(AClock)) {}

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
    FMessages.Report(LogWriteKind,
                     "Error writing Logfile in Directory \"" + ASettings.LogDir + "\"");
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
    // The request field in pieces: a POST body is not copied into a text of its own first.
    const TNetHTTPRequestInfo& r = ARequest;
    std::string line =
        CombinedLogLine(AHostName, "", r.AuthUsername, Now(),
                        {r.Command, " ", r.Document, " ", r.ParamText, " ", r.Version}, ALogStatus,
                        static_cast<int>(ALogSize), AUserAgent, AReferer);
    if (!FOverviewLogger->WriteLog(line))
        ReportLogDirError(ASettings);
    else if (FOnOverviewLine)
        FOnOverviewLine(line);
}

void THitLog::DetachScreen() { FScreenDetached.store(true); }
