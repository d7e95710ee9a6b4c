#include "tracking/TMemoryScreenLists.h"

#include <algorithm>

int TMemoryScreenLists::LineCount(TScreenLog ALog) {
    std::lock_guard<std::mutex> guard(FLock);
    ShowPosted();
    return FView.LineCount(ALog);
}

std::string TMemoryScreenLists::Text(TScreenLog ALog) {
    std::lock_guard<std::mutex> guard(FLock);
    ShowPosted();
    std::string text;
    for (const std::string& line : FLists[static_cast<int>(ALog)])
        text += line + "\r\n";
    return text;
}

std::vector<std::string> TMemoryScreenLists::Lines(TScreenLog ALog) {
    std::lock_guard<std::mutex> guard(FLock);
    ShowPosted();
    const auto& list = FLists[static_cast<int>(ALog)];
    return {list.begin(), list.end()};
}

void TMemoryScreenLists::Clear(TScreenLog ALog) {
    std::lock_guard<std::mutex> guard(FLock);
    ShowPosted();
    FLists[static_cast<int>(ALog)].clear();
}

int TMemoryScreenLists::TView::LineCount(TScreenLog ALog) {
    return static_cast<int>(ListOf(ALog).size());
}

void TMemoryScreenLists::TView::LineSizes(TScreenLog ALog, std::vector<std::size_t>& ASizes) {
    for (const std::string& line : ListOf(ALog))
        ASizes.push_back(line.size());
}

void TMemoryScreenLists::TView::EntryLineSizes(const std::string& AText,
                                               std::vector<std::size_t>& ASizes) {
    const std::vector<std::string> lines = SplitLines(AText);
    if (lines.empty())
        ASizes.push_back(0);
    for (const std::string& line : lines)
        ASizes.push_back(line.size());
}

void TMemoryScreenLists::TView::RemoveFirstLines(TScreenLog ALog, std::size_t ACount) {
    auto& list = ListOf(ALog);
    list.erase(list.begin(),
               list.begin() + static_cast<std::ptrdiff_t>(std::min(ACount, list.size())));
}

void TMemoryScreenLists::TView::AppendEntry(TScreenLog ALog, const std::string& AText,
                                            std::size_t AFromLine) {
    std::vector<std::string> lines = SplitLines(AText);
    if (lines.empty())
        lines.emplace_back();
    for (std::size_t i = AFromLine; i < lines.size(); ++i)
        ListOf(ALog).push_back(std::move(lines[i]));
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
