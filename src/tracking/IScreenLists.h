// The one interface between the tracking service and a front end: the three on-screen lists.
// RunOnFrontEnd may be called from any thread; every other method runs on the front end's thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Memo1 (one line per hit), Memo2 (detail blocks) and SysMemo (the Messages list).
enum class TScreenLog { Overview, Detail, Messages };

class IScreenLists {
public:
    virtual ~IScreenLists() = default;

    // Carries out AChange on the front end's thread and returns when it has run. Called on the
    // front end's thread itself, it runs AChange at once. Once the front end has closed (its
    // lists are gone), it drops AChange and returns at once; it must never block for ever.
    virtual void RunOnFrontEnd(const std::function<void()>& AChange) = 0;

    // Runs AWork on another thread while the front end's thread keeps carrying out the changes
    // handed to it (user input stays blocked); returns when AWork has finished. Front end's
    // thread only. Used for stopping the server, whose peer threads may wait for such changes.
    virtual void RunServingChanges(const std::function<void()>& AWork) = 0;

    // --- front end's thread only, inside a change ---
    // Number of lines of the list.
    virtual int LineCount(TScreenLog ALog) = 0;
    // The whole text, each line followed by "\r\n".
    virtual std::string Text(TScreenLog ALog) = 0;
    // Removes the first ACount characters of Text (the "\r\n" pairs count as two).
    virtual void RemoveLeadingChars(TScreenLog ALog, std::size_t ACount) = 0;
    // Removes the first line.
    virtual void RemoveFirstLine(TScreenLog ALog) = 0;
    // Appends AText as a new entry; line breaks inside it make several lines, the entry ends
    // with a line break.
    virtual void AppendEntry(TScreenLog ALog, const std::string& AText) = 0;
    // Suspends (true) or resumes (false) redrawing while a log is trimmed.
    virtual void SetUpdatesSuspended(TScreenLog ALog, bool ASuspended) = 0;
};
