// The secret that visitor ids are keyed with: a random key for each local day, kept in memory
// and in a file of mode 0600 (a restart on the same day keeps the day's ids), replaced and
// overwritten in both at the day change, so that nobody can link ids of two days or find an
// address from its id. VisitorId on any thread, many at once (no lock while the day's key
// stands); Renew on any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class TVisitorKeys {
public:
    using TReport = std::function<void(const std::string& AText)>;

    // APath: the key file, read here; a missing or damaged one means no key yet. AReport is
    // told, once each, when the file cannot be written or no random key can be made.
    TVisitorKeys(std::string APath, TReport AReport);
    ~TVisitorKeys(); // wipes the key from memory
    TVisitorKeys(const TVisitorKeys&) = delete;
    TVisitorKeys& operator=(const TVisitorKeys&) = delete;

    // 16 lower-case hex digits: the first 8 bytes of HMAC-SHA-256, under the key of local day
    // ADay (whole days of TDateTime), of the address, the User-Agent and the Host, each
    // preceded by its length, so no two inputs give the same bytes. A day later than the key's
    // makes the new day's key first; a day earlier than it (a hit of 23:59:59.999 recorded
    // after midnight) takes the new key, as the old one is gone. Empty when no key can be made.
    std::string VisitorId(int ADay, std::string_view AAddress, std::string_view AUserAgent,
                          std::string_view AHost);
    // A key held for a day before ADay is replaced now (the front end's tick), so that no key
    // outlives its day when no hit comes. No key is made where none is held.
    void Renew(int ADay);

    // The day of the key held, or -1 for none; for tests.
    int KeyDay() const;

private:
    static constexpr std::size_t KeyWords = 4; // 32 bytes
    using TKey = std::array<std::uint64_t, KeyWords>;

    // The key and its day as one consistent copy, without a lock; false while none is held.
    bool ReadKey(int& ADay, TKey& AKey) const;
    // Makes ADay's key unless one of ADay or later is held; under FChangeLock.
    void MakeKeyFor(int ADay);
    void StoreKey(int ADay, const TKey& AKey);
    void LoadFile();
    bool WriteFile(int ADay, const TKey& AKey);

    std::string FPath;
    TReport FReport;
    // The key is read by peer threads as a sequence lock: FSequence is odd while a change is
    // under way, and a reader that saw it change reads again. Words are atomics, so a reader
    // racing with the change reads a stale word, never a torn one, and then reads again.
    std::atomic<std::uint64_t> FSequence{0};
    std::atomic<int> FDay{-1};
    std::array<std::atomic<std::uint64_t>, KeyWords> FKey{};
    // Serialises changes of the key and the file, and guards the two flags.
    std::mutex FChangeLock;
    bool FToldWrite = false;
    bool FToldRandom = false;
};
