// Screen lists kept in memory, for tests: entries are posted as to the window's lists and
// shown whenever a list is read. Any thread; one lock stands in for the front end's thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tracking/TQueuedScreenLists.h"

class TMemoryScreenLists : public TQueuedScreenLists {
public:
    TMemoryScreenLists() : FView(*this) {}

    // Each shows what was posted first. Any thread.
    int LineCount(TScreenLog ALog);
    // The whole text, each line followed by "\r\n".
    std::string Text(TScreenLog ALog);
    std::vector<std::string> Lines(TScreenLog ALog);
    // Empties a list, as the window's "Clear" does: of what was posted before, nothing comes
    // later. Any thread.
    void Clear(TScreenLog ALog);

    // The lists as the front end changes them, for a test on one thread.
    IScreenView& View() { return FView; }

private:
    // Runs where the front end's thread would: with FLock held, or in a one-thread test.
    class TView : public IScreenView {
    public:
        explicit TView(TMemoryScreenLists& AOwner) : FOwner(AOwner) {}
        int LineCount(TScreenLog ALog) override;
        void LineSizes(TScreenLog ALog, std::vector<std::size_t>& ASizes) override;
        void EntryLineSizes(const std::string& AText, std::vector<std::size_t>& ASizes) override;
        void RemoveFirstLines(TScreenLog ALog, std::size_t ACount) override;
        void AppendEntry(TScreenLog ALog, const std::string& AText,
                         std::size_t AFromLine = 0) override;

    private:
        std::deque<std::string>& ListOf(TScreenLog ALog) {
            return FOwner.FLists[static_cast<int>(ALog)];
        }
        TMemoryScreenLists& FOwner;
    };

    // Shows what was posted; under FLock.
    void ShowPosted() { ShowQueued(FView); }

    std::mutex FLock; // guards FLists, and stands in for the front end's thread
    std::deque<std::string> FLists[3];
    TView FView;
};

// Splits a text into lines at CR LF, CR or LF; a trailing line break adds no empty line.
std::vector<std::string> SplitLines(const std::string& AText);
