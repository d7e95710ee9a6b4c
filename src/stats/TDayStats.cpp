#include "stats/TDayStats.h"

#include <algorithm>

#include "stats/HitRules.h"

namespace {

constexpr std::string_view OtherName = "(other)";
constexpr std::string_view UnknownPage = "(unknown)";
constexpr std::string_view DirectSource = "(direct)";

void AppendLowerAscii(std::string_view AText, std::string& AOut) {
    for (char c : AText)
        AOut += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Cut before MaxNameBytes, never inside a UTF-8 character.
std::string CutName(std::string_view AName) {
    std::size_t cut = TNameCounter::MaxNameBytes - 3;
    while (cut > 0 && (static_cast<unsigned char>(AName[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(AName.substr(0, cut)) + "...";
}

bool ByViewsThenName(const TNameCount& A, const TNameCount& B) {
    return A.Views != B.Views ? A.Views > B.Views : A.Name < B.Name;
}

} // namespace

void TNameCounter::Add(std::string_view AName) {
    if (AName.size() > MaxNameBytes) {
        Add(CutName(AName));
        return;
    }
    const std::uint64_t hash = std::hash<std::string_view>()(AName) >> 32 << 32;
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
        Place(std::hash<std::string_view>()(FEntries[i].Name) >> 32 << 32 | (i + 1));
}

void TNameCounter::Place(std::uint64_t ASlot) {
    const std::size_t mask = FSlots.size() - 1;
    std::size_t i = (ASlot >> 32) & mask;
    while (FSlots[i] != 0)
        i = (i + 1) & mask;
    FSlots[i] = ASlot;
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
    std::uint64_t h = std::hash<std::string_view>()(AAddress);
    h ^= AAgentHash + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
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
    if (!IsGifDocument(AHit.Document) || (AHit.Status != 200 && AHit.Status != 304))
        return;
    const std::uint64_t agentHash = std::hash<std::string_view>()(AHit.UserAgent);
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
    FVisitors.Add(AHit.Host, AAgentHash);
    FVisitorNames.Add(VisitorNameOf(AHit.Host));
    FBrowsers.Add(AFamily);

    if (FindParam(AHit.Params, "page", FValue) && !FValue.empty())
        FPages.Add(FValue);
    else if (std::string_view page = WithoutQueryAndFragment(AHit.Referer); !page.empty())
        FPages.Add(page);
    else
        FPages.Add(UnknownPage);

    FName.clear();
    if (FindParam(AHit.Params, "ref", FValue))
        AssignHostOf(FValue, FName);
    FSources.Add(FName.empty() ? DirectSource : std::string_view(FName));
}

std::string_view TDayStats::VisitorNameOf(const std::string& AAddress) {
    if (FNickNames.empty())
        return AAddress;
    FName.clear();
    AppendLowerAscii(AAddress, FName);
    auto found = FNickNames.find(FName);
    return found == FNickNames.end() ? std::string_view(AAddress) : found->second;
}

TStatsSummary TDayStats::Summary() const {
    TStatsSummary summary;
    summary.Hits = FHits;
    summary.PageViews = FPageViews;
    summary.Visitors = FVisitors.Count();
    summary.Bots = FBots;
    summary.Unreadable = FUnreadable;
    summary.Hours = FHours;
    summary.Pages = FPages.Top(TopCount);
    summary.Sources = FSources.Top(TopCount);
    summary.VisitorNames = FVisitorNames.Top(TopCount);
    summary.Browsers = FBrowsers.Top(TopCount);
    return summary;
}
