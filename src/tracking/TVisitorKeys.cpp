#include "tracking/TVisitorKeys.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "base/DateTime.h"
#include "base/ScopeExit.h"
#include "tls/Crypto.h"

namespace {

// "yyyymmdd " and 64 hex digits and a line break: every key file has this length, so a new
// key is written over the old one's bytes.
constexpr std::size_t FileTextSize = 8 + 1 + 64 + 1;

std::string DayText(int ADay) {
    const TDateTimeParts parts = DecodeDateTime(ADay);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", parts.Year % 10000, parts.Month, parts.Day);
    return text;
}

// The day of "yyyymmdd", or -1.
int DayOfText(std::string_view AText) {
    if (AText.size() != 8 || AText.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    const int year = std::stoi(std::string(AText.substr(0, 4)));
    const int month = std::stoi(std::string(AText.substr(4, 2)));
    const int day = std::stoi(std::string(AText.substr(6, 2)));
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return -1;
    return static_cast<int>(EncodeDateTime(year, month, day));
}

// Each field preceded by its length and a colon.
void AppendField(std::string& AData, std::string_view AField) {
    AData += std::to_string(AField.size());
    AData += ':';
    AData += AField;
}

bool WriteWhole(int AFile, const std::string& AText) {
    std::size_t done = 0;
    while (done < AText.size()) {
        const ssize_t n =
            ::pwrite(AFile, AText.data() + done, AText.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

TVisitorKeys::TVisitorKeys(std::string APath, TReport AReport)
    : FPath(std::move(APath)), FReport(std::move(AReport)) {
    LoadFile();
}

TVisitorKeys::~TVisitorKeys() {
    StoreKey(-1, TKey{});
}

int TVisitorKeys::KeyDay() const {
    int day = -1;
    TKey key{};
    (void)ReadKey(day, key);
    WipeSecret(key.data(), sizeof key);
    return day;
}

bool TVisitorKeys::ReadKey(int& ADay, TKey& AKey) const {
    for (;;) {
        const std::uint64_t before = FSequence.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            std::this_thread::yield(); // a change is under way: a few stores
            continue;
        }
        // Acquire loads keep the second look at the sequence after them (no fence: the thread
        // sanitizer does not follow fences); on x86 they cost what relaxed ones do.
        ADay = FDay.load(std::memory_order_acquire);
        for (std::size_t i = 0; i < KeyWords; ++i)
            AKey[i] = FKey[i].load(std::memory_order_acquire);
        if (FSequence.load(std::memory_order_relaxed) == before)
            return ADay >= 0;
    }
}

void TVisitorKeys::StoreKey(int ADay, const TKey& AKey) {
    // Release stores keep the odd sequence before them: a reader that sees a new word sees
    // the change under way.
    FSequence.fetch_add(1, std::memory_order_relaxed);
    FDay.store(ADay, std::memory_order_release);
    for (std::size_t i = 0; i < KeyWords; ++i)
        FKey[i].store(AKey[i], std::memory_order_release); // the old words are gone
    FSequence.fetch_add(1, std::memory_order_release);
}

std::string TVisitorKeys::VisitorId(int ADay, std::string_view AAddress,
                                    std::string_view AUserAgent, std::string_view AHost) {
    int day = -1;
    TKey key{};
    const ScopeExit wipe([&] { WipeSecret(key.data(), sizeof key); });
    if (!ReadKey(day, key) || day < ADay) {
        {
            std::lock_guard<std::mutex> guard(FChangeLock);
            MakeKeyFor(ADay);
        }
        if (!ReadKey(day, key))
            return {};
    }
    std::string data;
    data.reserve(AAddress.size() + AUserAgent.size() + AHost.size() + 24);
    AppendField(data, AAddress);
    AppendField(data, AUserAgent);
    AppendField(data, AHost);
    TSha256Digest digest{};
    const bool done = HmacSha256Into(
        std::string_view(reinterpret_cast<const char*>(key.data()), sizeof key), data, digest);
    const std::string id =
        done ? HexText(std::string_view(reinterpret_cast<const char*>(digest.data()), 8)) : "";
    WipeSecret(digest.data(), digest.size());
    return id;
}

void TVisitorKeys::Renew(int ADay) {
    int day = -1;
    TKey key{};
    const bool held = ReadKey(day, key);
    WipeSecret(key.data(), sizeof key);
    if (!held || day >= ADay)
        return;
    std::lock_guard<std::mutex> guard(FChangeLock);
    MakeKeyFor(ADay);
}

void TVisitorKeys::MakeKeyFor(int ADay) {
    int day = -1;
    TKey key{};
    const ScopeExit wipe([&] { WipeSecret(key.data(), sizeof key); });
    if (ReadKey(day, key) && day >= ADay)
        return; // another thread made it meanwhile
    std::string random = RandomBytes(sizeof key);
    if (random.size() != sizeof key) {
        if (!std::exchange(FToldRandom, true) && FReport)
            FReport("Visitor ids: no random key could be made; hits are recorded without one");
        return;
    }
    std::memcpy(key.data(), random.data(), sizeof key);
    WipeSecret(random.data(), random.size());
    // The file first: a key that is used is one a restart finds again.
    if (!WriteFile(ADay, key) && !std::exchange(FToldWrite, true) && FReport)
        FReport("Visitor ids: the key file \"" + FPath +
                "\" cannot be written: the ids change at the next start");
    StoreKey(ADay, key);
}

void TVisitorKeys::LoadFile() {
    const int file = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (file < 0)
        return;
    char text[FileTextSize + 1] = {};
    const ssize_t n = ::read(file, text, sizeof text);
    ::close(file);
    const ScopeExit wipe([&] { WipeSecret(text, sizeof text); });
    if (n != static_cast<ssize_t>(FileTextSize) || text[8] != ' ' || text[FileTextSize - 1] != '\n')
        return;
    const int day = DayOfText(std::string_view(text, 8));
    std::string bytes = BytesOfHex(std::string_view(text + 9, 64));
    const ScopeExit wipeBytes([&] { WipeSecret(bytes.data(), bytes.size()); });
    if (day < 0 || bytes.size() != sizeof(TKey))
        return;
    TKey key{};
    std::memcpy(key.data(), bytes.data(), sizeof key);
    StoreKey(day, key);
    WipeSecret(key.data(), sizeof key);
}

bool TVisitorKeys::WriteFile(int ADay, const TKey& AKey) {
    // Written over the old key in place, not beside it and renamed: the old key's bytes are
    // what is overwritten. No link is followed; the mode is 0600 whatever the file had.
    const int file = ::open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0)
        return false;
    const ScopeExit closeFile([&] { ::close(file); });
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || ::fchmod(file, 0600) != 0)
        return false;
    std::string text =
        DayText(ADay) + " " +
        HexText(std::string_view(reinterpret_cast<const char*>(AKey.data()), sizeof AKey)) + "\n";
    const bool written = WriteWhole(file, text) &&
                         ::ftruncate(file, static_cast<off_t>(text.size())) == 0 &&
                         ::fsync(file) == 0;
    WipeSecret(text.data(), text.size());
    return written;
}
