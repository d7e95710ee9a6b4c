#include "tracking/TMemoryScreenLists.h"

#include <thread>

TMemoryScreenLists::TMemoryScreenLists(TAppendFn AOnAppend, bool AKeepLines)
    : FOnAppend(std::move(AOnAppend)), FKeepLines(AKeepLines) {}

void TMemoryScreenLists::RunOnFrontEnd(const std::function<void()>& AChange) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    AChange();
}

void TMemoryScreenLists::RunServingChanges(const std::function<void()>& AWork) {
    // Changes never wait for this thread here, so the work can run in place.
    AWork();
}

int TMemoryScreenLists::LineCount(TScreenLog ALog) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return static_cast<int>(ListOf(ALog).size());
}

std::string TMemoryScreenLists::Text(TScreenLog ALog) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    std::string text;
    for (const std::string& line : ListOf(ALog))
        text += line + "\r\n";
    return text;
}

void TMemoryScreenLists::RemoveLeadingChars(TScreenLog ALog, std::size_t ACount) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    auto& list = ListOf(ALog);
    while (ACount > 0 && !list.empty()) {
        std::string& first = list.front();
        if (ACount >= first.size() + 2) {
            ACount -= first.size() + 2;
            list.pop_front();
        } else {
            // A cut inside the line keeps its rest; a cut between CR and LF leaves it empty.
            first.erase(0, std::min(ACount, first.size()));
            ACount = 0;
        }
    }
}

void TMemoryScreenLists::RemoveFirstLine(TScreenLog ALog) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (!ListOf(ALog).empty())
        ListOf(ALog).pop_front();
}

void TMemoryScreenLists::AppendEntry(TScreenLog ALog, const std::string& AText) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (FOnAppend)
        FOnAppend(ALog, AText);
    if (!FKeepLines)
        return;
    std::vector<std::string> lines = SplitLines(AText);
    if (lines.empty())
        lines.emplace_back();
    for (std::string& line : lines)
        ListOf(ALog).push_back(std::move(line));
}

std::vector<std::string> TMemoryScreenLists::Lines(TScreenLog ALog) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return {ListOf(ALog).begin(), ListOf(ALog).end()};
}

void TMemoryScreenLists::Clear(TScreenLog ALog) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    ListOf(ALog).clear();
}

std::vector<std::string> SplitLines(const std::string& AText) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        char c = AText[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n')
                ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}
