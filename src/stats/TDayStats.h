// The figures of one day, counted line by line from the overview log: hits, page views, bots,
// visitors, unreadable lines, page views per hour and four groupings of page views.
// Owned by one thread at a time; no locks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/KeyedHash.h"
#include "stats/CombinedLineReader.h"
#include "stats/HitRules.h"

struct TNameCount {
    std::string Name;
    std::uint64_t Views = 0;

    bool operator==(const TNameCount&) const = default;
};

// What a report and the window show. Names are display names (see DisplayName).
struct TStatsSummary {
    std::uint64_t Hits = 0;
    std::uint64_t PageViews = 0; // without the bots
    std::uint64_t Visitors = 0;
    std::uint64_t OptedOut = 0; // page views recorded under Do-Not-Track (host "-")
    std::uint64_t Bots = 0;
    std::uint64_t Unreadable = 0;
    std::array<std::uint64_t, 24> Hours{};
    std::vector<TNameCount> Pages;
    std::vector<TNameCount> Sources;
    std::vector<TNameCount> VisitorNames;
    std::vector<TNameCount> Browsers;
};

// Page views per name. Memory stays bounded whatever the clients send: at most MaxNames
// distinct names, later new names count as "(other)"; a name longer than MaxNameBytes is cut
// and ends in "...". An open-addressing table of (hash, entry) pairs keeps a look-up to one
// or two probes without division, as a day's file asks millions of them; the hash is keyed at
// random (KeyedHash), so names chosen to share one run of the table cost what others do.
class TNameCounter {
public:
    static constexpr std::size_t MaxNames = 10000;
    static constexpr std::size_t MaxNameBytes = MaxCountedNameBytes;

    void Add(std::string_view AName);
    // The ATop names with the most views, ties in byte order of the names; "(other)" takes
    // its place among them.
    std::vector<TNameCount> Top(std::size_t ATop) const;
    // The longest run of taken slots in the table: what the slowest look-up walks.
    std::size_t LongestRun() const;

private:
    void Grow();
    void Place(std::uint64_t ASlot);

    std::vector<TNameCount> FEntries;
    // Upper 32 bits: the name's hash; lower: its index in FEntries plus one (0: empty slot).
    std::vector<std::uint64_t> FSlots;
    std::uint64_t FOther = 0;
};

// Distinct pairs of address and User-Agent, kept as 64-bit keyed hashes in an open-addressing
// table: 8 to 16 bytes per visitor, so a million visitors fit in a few MiB. Two pairs with the
// same hash would count once; at 64 bits that is far below one in a million for a day, and
// nobody who cannot read the process's key can make it happen.
class TVisitorSet {
public:
    // AAgentHash: KeyedHash of the User-Agent, which the caller needs anyway.
    void Add(std::string_view AAddress, std::uint64_t AAgentHash);
    // A visitor known by its visitor id alone.
    void AddVisitorId(std::string_view AId);
    std::uint64_t Count() const { return FCount; }

private:
    void Insert(std::uint64_t AHash);
    std::vector<std::uint64_t> FSlots; // 0: empty
    std::uint64_t FCount = 0;
};

class TDayStats {
public:
    static constexpr std::size_t TopCount = 10;

    // ANickNames: lines "IP=Name" of the settings; the first line naming an address wins.
    explicit TDayStats(const std::vector<std::string>& ANickNames = {});

    // Counts one line of an overview file (without its line break); an empty line is no line.
    void AddLine(std::string_view ALine);
    // A line the caller could not even hand over whole (too long).
    void AddUnreadableLine() { ++FUnreadable; }
    // The figures with the ATop first names of each list.
    TStatsSummary Summary(std::size_t ATop = TopCount) const;

    std::uint64_t Hits() const { return FHits; }

private:
    // What a User-Agent is, remembered by its hash: agents repeat from line to line, and
    // judging one takes dozens of searches.
    struct TAgentKind {
        std::uint64_t Hash = 0;
        bool Bot = false;
        std::string_view Family;
    };
    static constexpr std::size_t AgentKinds = 1024;

    void AddHit(const THitLine& AHit);
    void AddPageView(const THitLine& AHit, std::uint64_t AAgentHash, std::string_view AFamily);
    const TAgentKind& AgentKindOf(std::string_view AUserAgent, std::uint64_t AHash);
    std::string_view VisitorNameOf(const std::string& AAddress);

    std::uint64_t FHits = 0;
    std::uint64_t FPageViews = 0;
    std::uint64_t FOptedOut = 0;
    std::uint64_t FBots = 0;
    std::uint64_t FUnreadable = 0;
    std::array<std::uint64_t, 24> FHours{};
    TVisitorSet FVisitors;
    TNameCounter FPages;
    TNameCounter FSources;
    TNameCounter FVisitorNames;
    TNameCounter FBrowsers;
    // lower-case address -> name
    std::unordered_map<std::string, std::string, TKeyedHash, std::equal_to<>> FNickNames;
    std::vector<TAgentKind> FAgentKinds = std::vector<TAgentKind>(AgentKinds);
    THitLine FLine;     // reused from line to line
    std::string FValue; // reused: a parameter value
    std::string FName;  // reused: a name being built
};
