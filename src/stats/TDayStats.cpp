#include "stats/TDayStats.h"

#include <algorithm>

#include "base/KeyedHash.h"
#include "stats/HitRules.h"

namespace {

constexpr std::string_view OtherName = "(other)";

void AppendLowerAscii(std::string_view AText, std::string& AOut) {
    for (char c : AText)
        AOut += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ByViewsThenName(const TNameCount& A, const TNameCount& B) {
    return A.Views != B.Views ? A.Views > B.Views : A.Name < B.Name;
}

} // namespace

void TNameCounter::Add(std::string_view AName) {
    if (AName.size() > MaxNameBytes) {
        std::string cut(AName.substr(0, MaxNameBytes + 1));
        CutCountedName(cut);
        Add(cut);
        return;
    }
    const std::uint64_t hash = KeyedHash(AName) >> 32 << 32;
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = FSlots.empty() ? 0 : (hash >> 32) & mask; !FSlots.empty();
         i = (i + 1) & mask) {
        const std::uint64_t slot = FSlots[i];
        if (slot == 0)
            break;
        TNameCount& entry = FEntries[(slot & 0xFFFFFFFF) - 1];
        if ((slot >> 32 << 32) == hash && entry.Name == AName) {
            ++entry.Views;
            return;
        }
    }
    if (FEntries.size() >= MaxNames) {
        ++FOther;
        return;
    }
    FEntries.push_back({std::string(AName), 1});
    if (FEntries.size() * 4 > FSlots.size() * 3)
        Grow();
    else
        Place(hash | FEntries.size());
}

void TNameCounter::Grow() {
    FSlots.assign(FSlots.empty() ? 16 : FSlots.size() * 2, 0);
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        Place(KeyedHash(FEntries[i].Name) >> 32 << 32 | (i + 1));
}

void TNameCounter::Place(std::uint64_t ASlot) {
    const std::size_t mask = FSlots.size() - 1;
    std::size_t i = (ASlot >> 32) & mask;
    while (FSlots[i] != 0)
        i = (i + 1) & mask;
    FSlots[i] = ASlot;
}

std::size_t TNameCounter::LongestRun() const {
    // Counted from an empty slot, so a run that wraps around the end is counted whole; the
    // table is never full.
    const std::size_t size = FSlots.size();
    std::size_t start = 0;
    while (start < size && FSlots[start] != 0)
        ++start;
    std::size_t longest = 0, run = 0;
    for (std::size_t i = 1; i <= size; ++i) {
        run = FSlots[(start + i) % size] != 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

std::vector<TNameCount> TNameCounter::Top(std::size_t ATop) const {
    // Sorted by pointer, so the window's half-second refresh copies ten names, not ten thousand.
    std::vector<const TNameCount*> all;
    all.reserve(FEntries.size() + 1);
    TNameCount other{std::string(OtherName), FOther};
    for (const TNameCount& entry : FEntries) {
        if (entry.Name == OtherName)
            other.Views += entry.Views; // a client's own "(other)" joins ours, not twice
        else
            all.push_back(&entry);
    }
    if (other.Views > 0)
        all.push_back(&other);
    const std::size_t top = std::min(ATop, all.size());
    std::partial_sort(
        all.begin(), all.begin() + static_cast<std::ptrdiff_t>(top), all.end(),
        [](const TNameCount* A, const TNameCount* B) { return ByViewsThenName(*A, *B); });
    std::vector<TNameCount> shown;
    for (std::size_t i = 0; i < top; ++i)
        shown.push_back({DisplayName(all[i]->Name), all[i]->Views});
    return shown;
}

void TVisitorSet::Add(std::string_view AAddress, std::uint64_t AAgentHash) {
    std::uint64_t h = KeyedHash(AAddress);
    h ^= AAgentHash + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
    Insert(h == 0 ? 1 : h);
}

void TVisitorSet::AddVisitorId(std::string_view AId) {
    // Another mix than Add's, so that an id and an address never meet by construction.
    const std::uint64_t h = KeyedHash(AId) * 0xD6E8FEB86659FD93ULL + 0x632BE59BD9B4E019ULL;
    Insert(h == 0 ? 1 : h);
}

void TVisitorSet::Insert(std::uint64_t AHash) {
    if ((FCount + 1) * 2 > FSlots.size()) {
        std::vector<std::uint64_t> old(FSlots.empty() ? 1024 : FSlots.size() * 2, 0);
        old.swap(FSlots);
        FCount = 0;
        for (std::uint64_t slot : old)
            if (slot != 0)
                Insert(slot);
    }
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = AHash & mask;; i = (i + 1) & mask) {
        if (FSlots[i] == AHash)
            return;
        if (FSlots[i] == 0) {
            FSlots[i] = AHash;
            ++FCount;
            return;
        }
    }
}

TDayStats::TDayStats(const std::vector<std::string>& ANickNames) {
    for (const std::string& line : ANickNames) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string address;
        AppendLowerAscii(std::string_view(line).substr(0, eq), address);
        FNickNames.emplace(std::move(address), line.substr(eq + 1)); // the first one stays
    }
}

void TDayStats::AddLine(std::string_view ALine) {
    if (ALine.empty() || ALine == "\r")
        return;
    if (ReadCombinedLine(ALine, FLine))
        AddHit(FLine);
    else
        ++FUnreadable;
}

void TDayStats::AddHit(const THitLine& AHit) {
    ++FHits;
    if (!IsImageView(AHit.Document, AHit.Status))
        return;
    const std::uint64_t agentHash = KeyedHash(AHit.UserAgent);
    const TAgentKind& kind = AgentKindOf(AHit.UserAgent, agentHash);
    if (kind.Bot)
        ++FBots;
    else
        AddPageView(AHit, agentHash, kind.Family);
}

const TDayStats::TAgentKind& TDayStats::AgentKindOf(std::string_view AUserAgent,
                                                    std::uint64_t AHash) {
    // Two agents with one 64-bit hash would share a kind: far rarer than any agent that lies.
    TAgentKind& kind = FAgentKinds[AHash % AgentKinds];
    if (kind.Hash != AHash || kind.Family.empty())
        kind = {AHash, IsBotAgent(AUserAgent), BrowserFamilyOf(AUserAgent)};
    return kind;
}

void TDayStats::AddPageView(const THitLine& AHit, std::uint64_t AAgentHash,
                            std::string_view AFamily) {
    ++FPageViews;
    ++FHours[static_cast<std::size_t>(AHit.Hour)];
    // A line recorded under Do-Not-Track names nobody: a page view, never a visitor. Where a
    // line has a visitor id, the id is the visitor (its address may be masked, shared by many).
    if (AHit.Host == "-") {
        ++FOptedOut;
    } else {
        if (AHit.VisitorId.empty())
            FVisitors.Add(AHit.Host, AAgentHash);
        else
            FVisitors.AddVisitorId(AHit.VisitorId);
        FVisitorNames.Add(VisitorNameOf(AHit.Host));
    }
    FBrowsers.Add(AFamily);

    AssignPageOf(AHit.Params, AHit.Referer, FName);
    FPages.Add(FName);
    AssignSourceOf(AHit.Params, FName, FValue);
    FSources.Add(FName);
}

std::string_view TDayStats::VisitorNameOf(const std::string& AAddress) {
    if (FNickNames.empty())
        return AAddress;
    FName.clear();
    AppendLowerAscii(AAddress, FName);
    auto found = FNickNames.find(FName);
    return found == FNickNames.end() ? std::string_view(AAddress) : found->second;
}

TStatsSummary TDayStats::Summary(std::size_t ATop) const {
    TStatsSummary summary;
    summary.Hits = FHits;
    summary.PageViews = FPageViews;
    summary.Visitors = FVisitors.Count();
    summary.OptedOut = FOptedOut;
    summary.Bots = FBots;
    summary.Unreadable = FUnreadable;
    summary.Hours = FHours;
    summary.Pages = FPages.Top(ATop);
    summary.Sources = FSources.Top(ATop);
    summary.VisitorNames = FVisitorNames.Top(ATop);
    summary.Browsers = FBrowsers.Top(ATop);
    return summary;
}
