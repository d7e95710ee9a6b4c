#include "stats/DaySummaryFile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "stats/StatsRange.h"

namespace {

// 2: the page views recorded under Do-Not-Track among the totals. A summary of another version
// is no summary: the day is counted again from its file.
const std::string_view VersionLine = "sk_KAV day summary 2";
// Summaries are small; a bigger file is no summary of ours.
constexpr std::size_t MaxSummaryBytes = 4u << 20;

struct TListField {
    std::string_view Name;
    std::vector<TNameCount> TStatsSummary::*List;
};
constexpr TListField ListFields[] = {{"pages", &TStatsSummary::Pages},
                                     {"sources", &TStatsSummary::Sources},
                                     {"visitors", &TStatsSummary::VisitorNames},
                                     {"browsers", &TStatsSummary::Browsers}};

// FNV-1a: stable from run to run and build to build, which std::hash need not be.
std::uint64_t Fnv1a(std::string_view AText, std::uint64_t AHash = 14695981039346656037ULL) {
    for (char c : AText) {
        AHash ^= static_cast<unsigned char>(c);
        AHash *= 1099511628211ULL;
    }
    return AHash;
}

std::string HexOf(std::uint64_t AValue) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(AValue));
    return text;
}

// Reads the text line by line; every read fails once one has failed.
class TSummaryReader {
public:
    explicit TSummaryReader(std::string_view AText) : FText(AText) {}

    bool Ok() const { return FOk; }
    void Fail() { FOk = false; }
    // The next line without its CR LF.
    std::string_view Line() {
        const std::size_t end = FText.find("\r\n", FAt);
        if (!FOk || end == std::string_view::npos) {
            FOk = false;
            return {};
        }
        std::string_view line = FText.substr(FAt, end - FAt);
        FAt = end + 2;
        return line;
    }
    // The next line, which must start with AWord and a blank; the rest of it.
    std::string_view Tagged(std::string_view AWord) {
        std::string_view line = Line();
        if (line.size() <= AWord.size() || line.substr(0, AWord.size()) != AWord ||
            line[AWord.size()] != ' ')
            FOk = false;
        return FOk ? line.substr(AWord.size() + 1) : std::string_view();
    }
    // A number followed by a blank or the end of AText, taken off its front.
    template <typename T> T Number(std::string_view& AText, int ABase = 10) {
        T value{};
        auto [end, ec] = std::from_chars(AText.data(), AText.data() + AText.size(), value, ABase);
        if (ec != std::errc() || (end != AText.data() + AText.size() && *end != ' '))
            FOk = false;
        const std::size_t used = static_cast<std::size_t>(end - AText.data());
        AText.remove_prefix(std::min(AText.size(), used + 1));
        return value;
    }
    std::size_t At() const { return FAt; }

private:
    std::string_view FText;
    std::size_t FAt = 0;
    bool FOk = true;
};

std::string SourceLine(const TDaySource& A) {
    return "source " + std::to_string(A.Device) + " " + std::to_string(A.Inode) + " " +
           std::to_string(A.Size) + " " + std::to_string(A.ModifiedNs) + " " +
           HexOf(A.NickNamesKey);
}

void ReadList(TSummaryReader& AReader, std::string_view AName, std::vector<TNameCount>& AList) {
    std::string_view rest = AReader.Tagged(AName);
    const auto count = AReader.Number<std::size_t>(rest);
    if (count > KeptNames)
        AReader.Fail();
    for (std::size_t i = 0; i < count && AReader.Ok(); ++i) {
        std::string_view line = AReader.Line();
        const auto views = AReader.Number<std::uint64_t>(line);
        AList.push_back({std::string(line), views});
    }
}

} // namespace

TReadStatus DaySourceOf(const std::string& APath, const std::vector<std::string>& ANickNames,
                        TDaySource& ASource, std::string& AError, uid_t* AOwner) {
    struct stat info {};
    if (::stat(APath.c_str(), &info) != 0) {
        const int error = errno;
        AError = std::generic_category().message(error);
        return error == ENOENT ? TReadStatus::Missing : TReadStatus::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        AError = "not a regular file";
        return TReadStatus::Failed;
    }
    if (AOwner)
        *AOwner = info.st_uid;
    ASource.Device = info.st_dev;
    ASource.Inode = info.st_ino;
    ASource.Size = info.st_size;
    ASource.ModifiedNs =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    std::uint64_t key = Fnv1a("nicknames");
    for (const std::string& line : ANickNames)
        key = Fnv1a(std::string_view("\n", 1), Fnv1a(line, key));
    ASource.NickNamesKey = key;
    return TReadStatus::Read;
}

std::string DaySummaryPath(const std::string& ADir, const TLogDay& ADay) {
    std::string path = OverviewFilePath(ADir, ADay);
    path.replace(path.size() - 4, 4, ".stats");
    return path;
}

std::string DaySummaryText(const TDaySource& ASource, const TStatsSummary& S) {
    std::string text = std::string(VersionLine) + "\r\n" + SourceLine(ASource) + "\r\n";
    text += "totals " + std::to_string(S.Hits) + " " + std::to_string(S.PageViews) + " " +
            std::to_string(S.Visitors) + " " + std::to_string(S.OptedOut) + " " +
            std::to_string(S.Bots) + " " + std::to_string(S.Unreadable) + "\r\nhours";
    for (std::uint64_t views : S.Hours)
        text += " " + std::to_string(views);
    text += "\r\n";
    for (const TListField& field : ListFields) {
        const std::vector<TNameCount>& list = S.*field.List;
        const std::size_t count = std::min(list.size(), KeptNames);
        text += std::string(field.Name) + " " + std::to_string(count) + "\r\n";
        // Display names are printable: no line break inside one.
        for (std::size_t i = 0; i < count; ++i)
            text += std::to_string(list[i].Views) + " " + list[i].Name + "\r\n";
    }
    return text + "end " + HexOf(Fnv1a(text)) + "\r\n";
}

bool ReadDaySummaryText(std::string_view AText, const TDaySource& ASource,
                        TStatsSummary& ASummary) {
    TSummaryReader reader(AText);
    if (reader.Line() != VersionLine || reader.Line() != SourceLine(ASource))
        return false;
    TStatsSummary summary;
    std::string_view totals = reader.Tagged("totals");
    for (std::uint64_t* field : {&summary.Hits, &summary.PageViews, &summary.Visitors,
                                 &summary.OptedOut, &summary.Bots, &summary.Unreadable})
        *field = reader.Number<std::uint64_t>(totals);
    std::string_view hours = reader.Tagged("hours");
    for (std::uint64_t& views : summary.Hours)
        views = reader.Number<std::uint64_t>(hours);
    for (const TListField& field : ListFields)
        ReadList(reader, field.Name, summary.*field.List);
    const std::size_t checked = reader.At();
    std::string_view end = reader.Tagged("end");
    if (!reader.Ok() || !totals.empty() || !hours.empty() || reader.At() != AText.size() ||
        end != HexOf(Fnv1a(AText.substr(0, checked))))
        return false;
    ASummary = std::move(summary);
    return true;
}

bool WriteDaySummary(const std::string& APath, const TDaySource& ASource,
                     const TStatsSummary& ASummary) {
    static std::atomic<unsigned> serial{0};
    const std::string text = DaySummaryText(ASource, ASummary);
    const std::string temporary =
        APath + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0)
        return false;
    bool written = true;
    for (std::size_t at = 0; at < text.size() && written;) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        at += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), APath.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

bool ReadDaySummary(const std::string& APath, const TDaySource& ASource, TStatsSummary& ASummary) {
    const int fd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= MaxSummaryBytes) {
        text.resize(static_cast<std::size_t>(info.st_size));
        std::size_t at = 0;
        while (at < text.size()) {
            const ssize_t n = ::read(fd, text.data() + at, text.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        text.resize(at);
    }
    ::close(fd);
    return !text.empty() && ReadDaySummaryText(text, ASource, ASummary);
}
