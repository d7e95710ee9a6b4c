// A hash for tables whose keys a client chooses (page names, sources, addresses): SipHash-1-3
// under a key drawn at random once per process, so nobody outside can make keys collide.
// Pure functions after the first call; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using TSipKey = std::array<std::uint64_t, 2>;

// SipHash with ACRounds compression and AFRounds finalisation rounds of AData under AKey
// (the reference function for 2 and 4; tables use 1 and 3).
std::uint64_t SipHash(const TSipKey& AKey, std::string_view AData, int ACRounds = 1,
                      int AFRounds = 3);

// The process's random key, drawn from the system at first use.
const TSipKey& ProcessHashKey();

// SipHash-1-3 of AData under the process's key.
inline std::uint64_t KeyedHash(std::string_view AData) {
    return SipHash(ProcessHashKey(), AData);
}

// For unordered containers keyed by text; transparent, so a look-up by a view copies nothing
// (declare the container with std::equal_to<> as well).
struct TKeyedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view AKey) const { return KeyedHash(AKey); }
    std::size_t operator()(const std::string& AKey) const { return KeyedHash(AKey); }
    std::size_t operator()(const char* AKey) const { return KeyedHash(AKey); }
};
