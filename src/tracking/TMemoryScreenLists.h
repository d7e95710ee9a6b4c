// Screen lists kept in memory: the lists of the headless program and of the tests.
// Any thread: changes are serialised by one lock, which stands in for the front end's thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tracking/IScreenLists.h"

class TMemoryScreenLists : public IScreenLists {
public:
    // AOnAppend, when set, sees every appended entry (inside the change, under the lock).
    using TAppendFn = std::function<void(TScreenLog, const std::string&)>;
    explicit TMemoryScreenLists(TAppendFn AOnAppend = nullptr, bool AKeepLines = true);

    void RunOnFrontEnd(const std::function<void()>& AChange) override;
    void RunServingChanges(const std::function<void()>& AWork) override;

    int LineCount(TScreenLog ALog) override;
    std::string Text(TScreenLog ALog) override;
    void RemoveLeadingChars(TScreenLog ALog, std::size_t ACount) override;
    void RemoveFirstLine(TScreenLog ALog) override;
    void AppendEntry(TScreenLog ALog, const std::string& AText) override;
    void SetUpdatesSuspended(TScreenLog, bool) override {}

    // A copy of a list's lines; any thread.
    std::vector<std::string> Lines(TScreenLog ALog);
    // Empties a list, as the window's "Clear" does; any thread.
    void Clear(TScreenLog ALog);

private:
    std::deque<std::string>& ListOf(TScreenLog ALog) { return FLists[static_cast<int>(ALog)]; }

    std::recursive_mutex FLock; // guards FLists; held for the whole of each change
    std::deque<std::string> FLists[3];
    TAppendFn FOnAppend;
    bool FKeepLines;
};

// Splits a text into lines at CR LF, CR or LF; a trailing line break adds no empty line.
std::vector<std::string> SplitLines(const std::string& AText);
