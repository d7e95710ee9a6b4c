#include "tracking/TMessageThrottle.h"

#include "logging/LogText.h"

TMessageThrottle::TMessageThrottle(TSink ASink, TClock AClock)
    : FSink(std::move(ASink)), FClock(std::move(AClock)) {}

TMessageThrottle::TTime TMessageThrottle::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

void TMessageThrottle::Report(const TKind& AKind, const std::string& AText) {
    TLines lines;
    {
        std::lock_guard<std::mutex> guard(FLock);
        const TTime now = Now();
        CollectSummaries(now, false, lines);
        auto it = FKinds.find(AKind.Name);
        if (it == FKinds.end())
            it = FKinds.emplace(std::string(AKind.Name), TKindState{}).first;
        TKindState& state = it->second;
        if (Admit(state, AKind, now)) {
            lines.push_back(AText);
        } else {
            // The minute of the summary runs from the last one, or, when that was long ago,
            // from the period this line was left out of: so the count is written before the
            // next period's lines, and counts of one kind are a minute apart at least.
            if (state.LeftOut == 0 && now - state.SummaryBase >= SummaryInterval)
                state.SummaryBase = state.WindowStart;
            ++state.LeftOut;
        }
    }
    Emit(lines);
}

void TMessageThrottle::ReportRefusal(std::string_view AReason, std::string_view AAddress,
                                     long long ALimit) {
    // Only counted: the transport reports from its listener thread, which must never wait for
    // the front end's thread that the sink hands lines to. The next tick writes the line.
    std::lock_guard<std::mutex> guard(FLock);
    TRefusal& refusal = RefusalFor(AReason, AAddress);
    refusal.Limit = ALimit;
    ++refusal.Pending;
}

void TMessageThrottle::Tick() {
    WriteDue(false);
}

void TMessageThrottle::Flush() {
    WriteDue(true);
}

void TMessageThrottle::WriteDue(bool AAll) {
    TLines lines;
    {
        std::lock_guard<std::mutex> guard(FLock);
        const TTime now = Now();
        CollectSummaries(now, AAll, lines);
        CollectRefusals(now, AAll, lines);
    }
    Emit(lines);
}

bool TMessageThrottle::Admit(TKindState& AState, const TKind& AKind, TTime ANow) {
    if (AState.InWindow == 0 || ANow - AState.WindowStart >= AKind.Period) {
        AState.WindowStart = ANow;
        AState.InWindow = 0;
    }
    if (AState.InWindow >= AKind.Burst)
        return false;
    ++AState.InWindow;
    return true;
}

void TMessageThrottle::CollectSummaries(TTime ANow, bool AAll, TLines& ALines) {
    for (auto& [name, state] : FKinds) {
        if (state.LeftOut == 0 || (!AAll && ANow - state.SummaryBase < SummaryInterval))
            continue;
        ALines.push_back(name + ": " + std::to_string(state.LeftOut) +
                         (state.LeftOut == 1 ? " more line" : " more lines") +
                         " of this kind left out");
        state.LeftOut = 0;
        state.SummaryBase = ANow;
    }
}

void TMessageThrottle::CollectRefusals(TTime ANow, bool AAll, TLines& ALines) {
    for (auto it = FRefusals.begin(); it != FRefusals.end();) {
        TRefusal& refusal = it->second;
        const bool due = AAll ? refusal.Pending > 0 : RefusalDue(refusal, ANow);
        if (due && !AAll && !Admit(FRefusalPace, RefusalKind, ANow))
            return; // the rest wait for the next tick
        if (due)
            TakeRefusalLine(refusal, ANow, ALines);
        const bool quiet = refusal.Pending == 0 && ANow - refusal.LastLine >= SummaryInterval;
        it = quiet ? FRefusals.erase(it) : std::next(it);
    }
}

bool TMessageThrottle::RefusalDue(const TRefusal& ARefusal, TTime ANow) const {
    return ARefusal.Pending > 0 &&
           (!ARefusal.Written || ANow - ARefusal.LastLine >= SummaryInterval);
}

void TMessageThrottle::TakeRefusalLine(TRefusal& ARefusal, TTime ANow, TLines& ALines) {
    std::string line = "Refused " + std::to_string(ARefusal.Pending) +
                       (ARefusal.Pending == 1 ? " connection" : " connections") + " from " +
                       (ARefusal.Address.empty() ? "other addresses" : ARefusal.Address) + ": " +
                       ARefusal.Reason;
    if (ARefusal.Limit >= 0)
        line += " (limit " + std::to_string(ARefusal.Limit) + ")";
    ALines.push_back(std::move(line));
    ARefusal.Pending = 0;
    ARefusal.Written = true;
    ARefusal.LastLine = ANow;
}

TMessageThrottle::TRefusal& TMessageThrottle::RefusalFor(std::string_view AReason,
                                                         std::string_view AAddress) {
    std::pair<std::string, std::string> key{LogField(AReason, TLogEscape::Text, MessageTextLimit),
                                            LogField(AAddress, TLogEscape::Text, MessageTextLimit)};
    // Beyond the tracked addresses, one sum per reason keeps the memory bounded.
    if (FRefusals.size() >= MaxTrackedAddresses && !FRefusals.contains(key))
        key.second.clear();
    auto [it, added] = FRefusals.try_emplace(key);
    if (added) {
        it->second.Reason = key.first;
        it->second.Address = key.second;
    }
    return it->second;
}

void TMessageThrottle::Emit(const TLines& ALines) const {
    for (const std::string& line : ALines)
        FSink(line);
}
