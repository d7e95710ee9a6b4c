#include "logging/TLogEraser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/IPAddress.h"
#include "base/ScopeExit.h"
#include "logging/TSKX_Logger.h"

namespace {

constexpr std::size_t VisitorIdLength = 16;
constexpr std::size_t ReadChunk = 1 << 20;
constexpr std::size_t WriteChunk = 1 << 20;

std::string ErrorText(const std::string& AWhat) {
    return AWhat + ": " + std::strerror(errno);
}

// Waits for the file's lock as the log writer takes it, EINTR aside.
bool Lock(int AFile) {
    while (::flock(AFile, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void Unlock(int AFile) {
    (void)::flock(AFile, LOCK_UN);
}

bool WriteAll(int AFile, std::string_view ABytes) {
    while (!ABytes.empty()) {
        const ssize_t n = ::write(AFile, ABytes.data(), ABytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        ABytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool IsDigits(std::string_view AText) {
    return std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "2026/12/07 14:03:07:045 -------------- " and its line end: the line that opens a detail block.
bool IsBlockStampLine(std::string_view ALine) {
    constexpr std::string_view Tail = " -------------- ";
    if (ALine.ends_with("\r\n"))
        ALine.remove_suffix(2);
    else if (ALine.ends_with("\n"))
        ALine.remove_suffix(1);
    if (ALine.size() != 23 + Tail.size() || !ALine.ends_with(Tail))
        return false;
    const std::string_view stamp = ALine.substr(0, 23);
    return IsDigits(stamp.substr(0, 4)) && stamp[4] == '/' && IsDigits(stamp.substr(5, 2)) &&
           stamp[7] == '/' && IsDigits(stamp.substr(8, 2)) && stamp[10] == ' ' &&
           IsDigits(stamp.substr(11, 2)) && stamp[13] == ':' && IsDigits(stamp.substr(14, 2)) &&
           stamp[16] == ':' && IsDigits(stamp.substr(17, 2)) && stamp[19] == ':' &&
           IsDigits(stamp.substr(20, 3));
}

std::string_view WithoutLineEnd(std::string_view ALine) {
    while (!ALine.empty() && (ALine.back() == '\n' || ALine.back() == '\r'))
        ALine.remove_suffix(1);
    return ALine;
}

bool IsEmptyLine(std::string_view ALine) {
    return WithoutLineEnd(ALine).empty();
}

// The field of a combined line that starts at AAt, up to the next blank.
std::string_view FieldAt(std::string_view ALine, std::size_t AAt) {
    if (AAt > ALine.size())
        return {};
    const std::size_t end = ALine.find(' ', AAt);
    return ALine.substr(AAt, end == std::string_view::npos ? ALine.size() - AAt : end - AAt);
}

// Whether a JSON line holds "AName":"AValue" as a member of its object: the quotes of values
// are escaped, so no text inside a value can look like it.
bool HasJsonMember(std::string_view ALine, std::string_view AName, std::string_view AValue) {
    const std::string member = "\"" + std::string(AName) + "\":\"" + std::string(AValue) + "\"";
    for (std::size_t at = ALine.find(member); at != std::string_view::npos;
         at = ALine.find(member, at + 1))
        if (at > 0 && (ALine[at - 1] == '{' || ALine[at - 1] == ','))
            return true;
    return false;
}

enum class TFileKind { Combined, Detail, Json };

TFileKind KindOf(const std::string& AName) {
    if (AName.ends_with(".log2"))
        return TFileKind::Detail;
    return AName.ends_with(".jsonl") ? TFileKind::Json : TFileKind::Combined;
}

// The order in which a day's files are taken: the detail file first, as it tells the host
// names under which the combined lines show the target's address.
int KindOrder(const std::string& AName) {
    switch (KindOf(AName)) {
    case TFileKind::Detail:
        return 0;
    case TFileKind::Combined:
        return 1;
    default:
        return 2;
    }
}

// A regular file, or a link that EraseIn refuses (it may lead to records that a rewrite of
// the link would not reach); a directory, pipe or device of that name holds no records.
bool MayHoldRecords(int ADirectory, const char* AName) {
    struct stat info {};
    return ::fstatat(ADirectory, AName, &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISREG(info.st_mode) ||
           S_ISLNK(info.st_mode);
}

} // namespace

std::optional<TEraseTarget> ParseEraseTarget(std::string_view AText) {
    if (const std::optional<TIPAddress> address = ParseIPAddress(AText))
        return TEraseTarget{IPAddressText(*address), {}};
    if (AText.size() != VisitorIdLength || !std::all_of(AText.begin(), AText.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        }))
        return std::nullopt;
    TEraseTarget target;
    for (char c : AText)
        target.VisitorId += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return target;
}

// Splits a file's bytes into records (lines, or the detail blocks) and passes on those that
// are not the target's, in pieces of any size.
class TLogEraser::TFilter {
public:
    TFilter(TFileKind AKind, const TEraseTarget& ATarget, std::unordered_set<std::string>& ANames,
            int AOut)
        : FKind(AKind), FTarget(ATarget), FNames(ANames), FOut(AOut) {}

    [[nodiscard]] bool Feed(std::string_view ABytes) {
        while (!ABytes.empty()) {
            const std::size_t end = ABytes.find('\n');
            if (end == std::string_view::npos) {
                FLine.append(ABytes);
                return true;
            }
            FLine.append(ABytes.substr(0, end + 1));
            ABytes.remove_prefix(end + 1);
            if (!OnLine(FLine))
                return false;
            FLine.clear();
        }
        return true;
    }

    // The text after the last line end is a record too (a line cut off by a failed disk).
    [[nodiscard]] bool Finish() {
        if (!FLine.empty() && !OnLine(FLine))
            return false;
        FLine.clear();
        if (FPending) {
            FRecord += FPendingText;
            FPending = false;
        }
        return CloseRecord() && Flush(true);
    }

    std::size_t Records() const { return FRecords; }
    std::size_t Erased() const { return FErased; }

private:
    bool OnLine(const std::string& ALine) {
        if (FKind != TFileKind::Detail)
            return Keep(ALine, !ALine.empty() && Matches(ALine));
        // A block opens with an empty line and its stamp line. An empty line may also stand in
        // a block (an empty parameter), so it waits for the line after it. A client's own text
        // can at most cut its own block in two.
        if (FPending) {
            FPending = false;
            if (IsBlockStampLine(ALine)) {
                if (!CloseRecord())
                    return false;
                FInRecord = true;
            }
            FRecord += FPendingText;
        }
        if (IsEmptyLine(ALine)) {
            FPending = true;
            FPendingText = ALine;
            return true;
        }
        FRecord += ALine;
        return true;
    }

    // A detail block: the target's when its "From:" line shows the address, or its "Visitor:"
    // line the id; both come before the request's own lines.
    bool CloseRecord() {
        if (FRecord.empty())
            return true;
        const bool record = FInRecord;
        bool matches = false;
        std::string_view rest = FRecord;
        while (record && !rest.empty()) {
            const std::size_t end = rest.find('\n');
            const std::string_view line =
                WithoutLineEnd(rest.substr(0, end == std::string_view::npos ? rest.size() : end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (line.starts_with("Command: "))
                break;
            if (line.starts_with("Visitor: ") && !FTarget.VisitorId.empty())
                matches = matches || line.substr(9) == FTarget.VisitorId;
            if (line.starts_with("From: ") && !FTarget.Address.empty() && line.ends_with(']')) {
                const std::size_t open = line.rfind(" [");
                if (open == std::string_view::npos || open < 6)
                    continue;
                const std::string_view address = line.substr(open + 2, line.size() - open - 3);
                if (CanonicalAddressText(address) != FTarget.Address)
                    continue;
                matches = true;
                const std::string_view name = line.substr(6, open - 6);
                if (name != address)
                    FNames.emplace(name);
            }
        }
        const bool kept = Keep(FRecord, matches, record);
        FRecord.clear();
        return kept;
    }

    // A combined line: its host field, or its identity field for a visitor id. A JSON line:
    // its "address" or "visitor" member.
    bool Matches(std::string_view ALine) const {
        if (FKind == TFileKind::Json)
            return FTarget.VisitorId.empty() ? HasJsonMember(ALine, "address", FTarget.Address)
                                             : HasJsonMember(ALine, "visitor", FTarget.VisitorId);
        const std::string_view host = FieldAt(ALine, 0);
        if (!FTarget.VisitorId.empty())
            return FieldAt(ALine, host.size() + 1) == FTarget.VisitorId;
        return CanonicalAddressText(host) == FTarget.Address || FNames.contains(std::string(host));
    }

    bool Keep(std::string_view ARecord, bool AErased, bool ACounted = true) {
        if (ACounted)
            ++FRecords;
        if (AErased) {
            ++FErased;
            return true;
        }
        FKept += ARecord;
        return Flush(false);
    }

    bool Flush(bool AAll) {
        if (FOut < 0 || (!AAll && FKept.size() < WriteChunk)) {
            if (FOut < 0)
                FKept.clear();
            return true;
        }
        const bool written = WriteAll(FOut, FKept);
        FKept.clear();
        return written;
    }

    TFileKind FKind;
    const TEraseTarget& FTarget;
    std::unordered_set<std::string>& FNames;
    int FOut; // the new file; -1 for a dry run
    std::string FLine;
    std::string FRecord;      // the detail block read so far
    bool FInRecord = false;   // false while the text before the first block is read
    bool FPending = false;    // an empty line whose meaning the next line tells
    std::string FPendingText; // that line with its line end
    std::string FKept;        // records kept, not yet written
    std::size_t FRecords = 0;
    std::size_t FErased = 0;
};

TLogEraser::TLogEraser(std::string ADirectory, TEraseTarget ATarget, bool ADryRun)
    : FDirectory(std::move(ADirectory)), FTarget(std::move(ATarget)), FDryRun(ADryRun) {
    if (FDirectory.empty() || FDirectory.back() != '/')
        FDirectory += '/';
}

bool TLogEraser::Run(const std::function<void(const TErasedFile&)>& AOnFile, std::string& AError) {
    const int directory = ::open(FDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        AError = ErrorText("cannot open the log directory " + FDirectory);
        return false;
    }
    const ScopeExit closeDirectory([directory] { ::close(directory); });
    // Two erasers on one directory would each keep what the other erased.
    if (::flock(directory, LOCK_EX | LOCK_NB) != 0) {
        AError = "another erasure is running on " + FDirectory;
        return false;
    }
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(FDirectory.c_str()), ::closedir);
    if (!listing) {
        AError = ErrorText("cannot list " + FDirectory);
        return false;
    }
    while (const dirent* entry = ::readdir(listing.get()))
        for (const char* extension : DayFileExtensions)
            if (IsDayFileName(entry->d_name, "yyyymmdd", extension) &&
                MayHoldRecords(directory, entry->d_name))
                names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end(), [](const std::string& A, const std::string& B) {
        return A.compare(0, 8, B, 0, 8) != 0 ? A < B : KindOrder(A) < KindOrder(B);
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i == 0 || names[i].compare(0, 8, names[i - 1], 0, 8) != 0)
            FNames.clear(); // a name looked up for the address one day may be another's later
        TErasedFile result{names[i], 0, 0};
        if (!EraseIn(names[i], result, AError)) {
            AError = names[i] + ": " + AError;
            return false;
        }
        if (AOnFile)
            AOnFile(result);
    }
    return true;
}

bool TLogEraser::EraseIn(const std::string& AName, TErasedFile& AResult, std::string& AError) {
    const std::string path = FDirectory + AName;
    // Non-blocking: a pipe put in its place meanwhile must not hold the run.
    const int file = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        AError = errno == ELOOP ? "a symbolic link: not rewritten (erase in the file it names)"
                                : ErrorText("cannot open");
        return false;
    }
    const ScopeExit closeFile([file] { ::close(file); });
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        AError = "not a regular file";
        return false;
    }
    // Renaming a new file over one with other names would leave the records under those.
    if (info.st_nlink != 1) {
        AError = "the file has other names (hard links): not rewritten";
        return false;
    }
    std::string temp;
    int out = -1;
    if (!FDryRun) {
        temp = FDirectory + "." + AName + ".XXXXXX";
        out = ::mkostemp(temp.data(), O_CLOEXEC);
        if (out < 0) {
            AError = ErrorText("cannot make a new file beside it");
            return false;
        }
    }
    bool renamed = false;
    const ScopeExit dropTemp([&] {
        if (out >= 0)
            ::close(out);
        if (!renamed && !temp.empty())
            ::unlink(temp.c_str());
    });
    TFilter filter(KindOf(AName), FTarget, FNames, out);
    auto copy = [&](off_t AFrom, off_t ATo) {
        std::string buffer(ReadChunk, '\0');
        while (AFrom < ATo) {
            const std::size_t want = std::min(buffer.size(), static_cast<std::size_t>(ATo - AFrom));
            const ssize_t n = ::pread(file, buffer.data(), want, AFrom);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                AError = n < 0 ? ErrorText("cannot read") : "the file became shorter";
                return false;
            }
            if (!filter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
                AError = ErrorText("cannot write the new file");
                return false;
            }
            AFrom += n;
        }
        return true;
    };
    // The bulk without the lock, so that hits are written meanwhile: the writer only appends,
    // and under its lock a record is whole, so the length read under it ends a record.
    struct stat start {};
    if (!Lock(file) || ::fstat(file, &start) != 0) {
        AError = ErrorText("cannot lock");
        return false;
    }
    Unlock(file);
    if (!copy(0, start.st_size))
        return false;
    // The rest, the check and the rename under the lock: a writer that waited for it finds its
    // file without a name afterwards and opens the new one.
    if (!Lock(file)) {
        AError = ErrorText("cannot lock");
        return false;
    }
    const ScopeExit unlock([file] { Unlock(file); });
    struct stat now {
    }, atPath{};
    if (::fstat(file, &now) != 0 || ::stat(path.c_str(), &atPath) != 0 ||
        atPath.st_ino != now.st_ino || atPath.st_dev != now.st_dev || now.st_nlink != 1 ||
        now.st_size < start.st_size) {
        AError = "the file was replaced or cut meanwhile: not rewritten";
        return false;
    }
    if (!copy(start.st_size, now.st_size))
        return false;
    if (!filter.Finish()) {
        AError = ErrorText("cannot write the new file");
        return false;
    }
    AResult.Records = filter.Records();
    AResult.Erased = filter.Erased();
    if (FDryRun || AResult.Erased == 0)
        return true; // the file stays as it is; the new one goes
    if ((now.st_uid != ::geteuid() || now.st_gid != ::getegid()) &&
        ::fchown(out, now.st_uid, now.st_gid) != 0) {
        AError = ErrorText("cannot give the new file the owner of the old one");
        return false;
    }
    if (::fchmod(out, now.st_mode & 07777) != 0 || ::fsync(out) != 0) {
        AError = ErrorText("cannot finish the new file");
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        AError = ErrorText("cannot put the new file in place");
        return false;
    }
    renamed = true;
    const int directory = ::open(FDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        (void)::fsync(directory); // the rename itself outlasts a crash
        ::close(directory);
    }
    return true;
}
