// Keeps the per-request lines of the Messages list from flooding it: each kind of line is
// written at most Burst times per Period, what is left out is counted and said in one line a
// minute at most; refusals that the transport reports are summed per address and reason into
// one line a minute each. Any thread; lines reach the sink outside the throttle's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TMessageThrottle {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    using TSink = std::function<void(const std::string& AText)>;

    // A kind of line and how many of it may be written.
    struct TKind {
        std::string_view Name; // begins the line that counts what was left out
        int Burst;             // lines written per Period; the rest are counted
        std::chrono::milliseconds Period;
    };

    // At most one line a minute says what was left out of a kind, or refused from an address.
    static constexpr std::chrono::seconds SummaryInterval{60};
    // Refusals are summed for this many address and reason pairs; beyond, per reason only.
    static constexpr std::size_t MaxTrackedAddresses = 1024;
    // The pace of refusal lines, like every other kind.
    static constexpr TKind RefusalKind{"Refused", 10, std::chrono::seconds(1)};

    // AClock: replaced by tests; the steady clock otherwise.
    explicit TMessageThrottle(TSink ASink, TClock AClock = nullptr);

    // Writes AText unless its kind has used its lines for this period; then counts it. Client
    // text inside AText must already be cut (MessageTextLimit). Also writes what is due.
    void Report(const TKind& AKind, const std::string& AText);
    // One connection or request refused by a limit: AReason says which ("too many connections
    // from one address"), AAddress is the client's address, ALimit the limit's value (below 0:
    // none to name). Never writes and never waits, so the transport's listener thread may call
    // it: the next Tick writes the first refusal of an address and reason, later ones are
    // summed into "Refused N connections from A: reason (limit L)", one line a minute.
    void ReportRefusal(std::string_view AReason, std::string_view AAddress, long long ALimit);
    // Writes what has become due since: "left out" counts and summed refusals. Call it
    // periodically (the front end's timer), so counts are written when no other line comes.
    void Tick();
    // Writes every count still pending, due or not (the server stops).
    void Flush();

private:
    using TTime = std::chrono::steady_clock::time_point;

    struct TKindState {
        TTime WindowStart{};
        int InWindow = 0;
        std::uint64_t LeftOut = 0;
        TTime SummaryBase{}; // the last summary, or the first line left out after it
    };
    struct TRefusal {
        std::string Reason;
        std::string Address; // empty: the addresses beyond MaxTrackedAddresses
        long long Limit = -1;
        std::uint64_t Pending = 0; // refused since the last line
        bool Written = false;      // a line was written for this pair
        TTime LastLine{};
    };
    using TLines = std::vector<std::string>;

    // Tick (what is due) and Flush (everything pending).
    void WriteDue(bool AAll);
    // Takes a line of the kind from this period's allowance; false when it is used up.
    bool Admit(TKindState& AState, const TKind& AKind, TTime ANow);
    // Summaries of kinds whose minute has passed (all of them when AAll).
    void CollectSummaries(TTime ANow, bool AAll, TLines& ALines);
    // Refusal lines that are due and fit the pace (all pending ones when AAll).
    void CollectRefusals(TTime ANow, bool AAll, TLines& ALines);
    bool RefusalDue(const TRefusal& ARefusal, TTime ANow) const;
    void TakeRefusalLine(TRefusal& ARefusal, TTime ANow, TLines& ALines);
    TRefusal& RefusalFor(std::string_view AReason, std::string_view AAddress);
    void Emit(const TLines& ALines) const;
    TTime Now() const;

    TSink FSink;
    TClock FClock;
    // Guards FKinds, FRefusalPace and FRefusals; never held while the sink runs.
    std::mutex FLock;
    std::map<std::string, TKindState, std::less<>> FKinds;
    TKindState FRefusalPace;
    std::map<std::pair<std::string, std::string>, TRefusal> FRefusals; // by reason, address
};

// The kinds of per-request lines of the tracking service.
inline constexpr TMessageThrottle::TKind CommandOtherKind{"Command other", 10,
                                                          std::chrono::seconds(1)};
// A full or missing log directory fails every hit: one line a minute says so.
inline constexpr TMessageThrottle::TKind LogWriteKind{"Error writing Logfile", 1,
                                                      std::chrono::seconds(60)};
inline constexpr TMessageThrottle::TKind ServerErrorKind{"Server", 10, std::chrono::seconds(1)};
inline constexpr TMessageThrottle::TKind AnswerErrorKind{"Error answering a request", 10,
                                                         std::chrono::seconds(1)};
