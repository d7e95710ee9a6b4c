// The tracking service's side of a front end: the three on-screen lists. Post runs on any
// thread and never waits for the front end; IScreenView is the front end's own, on its thread.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// Memo1 (one line per hit), Memo2 (detail blocks) and SysMemo (the Messages list).
enum class TScreenLog { Overview, Detail, Messages };

// The Messages list's limit: an append first drops its oldest lines while it holds more.
inline constexpr int MaxSysMessages = 5000;

class IScreenLists {
public:
    virtual ~IScreenLists() = default;

    // Takes one entry for a list and returns at once; the front end shows the entries of a
    // list in the order they were posted. ALimit above 0: before the entry is appended, the
    // list is trimmed to that many lines (TrimScreenLog); 0: no limit. The Messages list keeps
    // at most MaxSysMessages + 1 lines whatever ALimit says. Any thread.
    virtual void Post(TScreenLog ALog, std::string AText, int ALimit) = 0;
};

// A front end's three lists as the trimming sees them: lines and their sizes in bytes (UTF-8,
// without the line break). The front end's thread only.
class IScreenView {
public:
    virtual ~IScreenView() = default;

    // Number of lines of the list.
    virtual int LineCount(TScreenLog ALog) = 0;
    // The size of each line of the list, in order, into ASizes.
    virtual void LineSizes(TScreenLog ALog, std::vector<std::size_t>& ASizes) = 0;
    // The sizes of the lines AText makes as an entry, appended to ASizes.
    virtual void EntryLineSizes(const std::string& AText, std::vector<std::size_t>& ASizes) = 0;
    // Removes the first ACount lines (all of them when there are fewer).
    virtual void RemoveFirstLines(TScreenLog ALog, std::size_t ACount) = 0;
    // Appends AText as a new entry, from its line AFromLine on (0: all of it); line breaks
    // inside it make several lines, the entry ends with a line break.
    virtual void AppendEntry(TScreenLog ALog, const std::string& AText,
                             std::size_t AFromLine = 0) = 0;
};

// The lines of a screen log as the trimming rule sees them, so that the rule runs on sizes
// alone and the front end's text changes once a turn. Any thread; one owner.
class TScreenLogModel {
public:
    // The log as it stands, from its line sizes.
    explicit TScreenLogModel(const std::vector<std::size_t>& ASizes);

    int LineCount() const { return static_cast<int>(FLines.size()); }
    // The length of the whole text, each line followed by "\r\n".
    std::size_t TextSize() const { return FText; }
    // Removes the first ACount bytes of the whole text: whole lines, and of the line the cut
    // goes into, its start (a cut between CR and LF leaves it empty).
    void RemoveLeadingChars(std::size_t ACount);
    void RemoveFirstLine();
    void Append(const std::vector<std::size_t>& ASizes);
    // Lines removed from the front so far, counting from the log's first line as it stood.
    std::size_t Removed() const { return FRemoved; }
    // Lines there have been: the log's own and the appended ones.
    std::size_t Total() const { return FRemoved + FLines.size(); }

private:
    std::deque<std::size_t> FLines;
    std::size_t FText = 0;
    std::size_t FRemoved = 0;
};

// Trims a log to ALimit lines the way a limited screen log is kept: nothing until it holds
// more than a tenth over the limit, then old text is cut in proportion to the excess (at
// least a tenth of the text at a time) until at most ALimit lines are left, and the line the
// last cut went into is removed.
void TrimScreenLog(TScreenLogModel& ALog, int ALimit);
