// Removes every record of one visitor (an address or a visitor id) from the day files of a log
// directory, each file rewritten whole while the server may go on writing to it. One caller at
// a time per directory (a second one is refused); any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Whose records go: an address as the records show it (a full one, or a masked one, which
// matches the records written masked), or a visitor id of 16 hex digits.
struct TEraseTarget {
    std::string Address; // canonical text; empty for a visitor id
    std::string VisitorId;
};

// The target that AText names; nothing when it is neither an address nor a visitor id.
std::optional<TEraseTarget> ParseEraseTarget(std::string_view AText);

struct TErasedFile {
    std::string Name; // the file's name in the directory
    std::size_t Records = 0;
    std::size_t Erased = 0; // of Records; with a dry run, those that would go
};

class TLogEraser {
public:
    TLogEraser(std::string ADirectory, TEraseTarget ATarget, bool ADryRun);

    // Goes through the day files (".log", ".log2", ".jsonl", oldest day first), calling
    // AOnFile for each when it is done. A file that holds records of the target is written anew
    // beside it and renamed over it, keeping its owner and mode, under the lock that the log
    // writer takes for each write: every record written meanwhile is kept, no erased one is
    // left. False with AError at the first failure: that file is as it was, the ones before it
    // are done (a second run finishes the work).
    [[nodiscard]] bool Run(const std::function<void(const TErasedFile&)>& AOnFile,
                           std::string& AError);

private:
    class TFilter;
    [[nodiscard]] bool EraseIn(const std::string& AName, TErasedFile& AResult, std::string& AError);

    std::string FDirectory; // with a trailing '/'
    TEraseTarget FTarget;
    bool FDryRun;
    // The host names the detail blocks of the current day gave the target's address: its
    // combined lines show the name instead when names were looked up.
    std::unordered_set<std::string> FNames;
};
