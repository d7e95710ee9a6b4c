#include "base/KeyedHash.h"

#include <bit>
#include <cstring>
#include <sys/random.h>

namespace {

std::uint64_t Rotl(std::uint64_t AValue, int ABits) {
    return (AValue << ABits) | (AValue >> (64 - ABits));
}

struct TSipState {
    std::uint64_t V0, V1, V2, V3;

    void Round() {
        V0 += V1;
        V1 = Rotl(V1, 13);
        V1 ^= V0;
        V0 = Rotl(V0, 32);
        V2 += V3;
        V3 = Rotl(V3, 16);
        V3 ^= V2;
        V0 += V3;
        V3 = Rotl(V3, 21);
        V3 ^= V0;
        V2 += V1;
        V1 = Rotl(V1, 17);
        V1 ^= V2;
        V2 = Rotl(V2, 32);
    }

    void Absorb(std::uint64_t AWord, int ARounds) {
        V3 ^= AWord;
        for (int i = 0; i < ARounds; ++i)
            Round();
        V0 ^= AWord;
    }
};

std::uint64_t LittleEndianWord(const unsigned char* ABytes, std::size_t ACount) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < ACount; ++i)
        word |= std::uint64_t(ABytes[i]) << (8 * i);
    return word;
}

// A whole word: one load where the machine is little-endian, as nearly all are.
std::uint64_t WholeWord(const unsigned char* ABytes) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t word;
        std::memcpy(&word, ABytes, sizeof word);
        return word;
    } else {
        return LittleEndianWord(ABytes, 8);
    }
}

// Inlined into each call below, so that the table hash (1 and 3 rounds, a few million times for
// a day's statistics) gets its rounds as constants and runs without loops of its own.
[[gnu::always_inline]] inline std::uint64_t SipHashOf(const TSipKey& AKey, std::string_view AData,
                                                      int ACRounds, int AFRounds) {
    TSipState state{AKey[0] ^ 0x736f6d6570736575ULL, AKey[1] ^ 0x646f72616e646f6dULL,
                    AKey[0] ^ 0x6c7967656e657261ULL, AKey[1] ^ 0x7465646279746573ULL};
    const auto* bytes = reinterpret_cast<const unsigned char*>(AData.data());
    const std::size_t whole = AData.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8)
        state.Absorb(WholeWord(bytes + i), ACRounds);
    const std::uint64_t last =
        LittleEndianWord(bytes + whole, AData.size() - whole) | (std::uint64_t(AData.size()) << 56);
    state.Absorb(last, ACRounds);
    state.V2 ^= 0xff;
    for (int i = 0; i < AFRounds; ++i)
        state.Round();
    return state.V0 ^ state.V1 ^ state.V2 ^ state.V3;
}

TSipKey DrawKey() {
    TSipKey key{};
    unsigned char bytes[sizeof key];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0)
            got += std::size_t(n);
        // getrandom only fails before the system's pool is ready (or when interrupted); it
        // blocks for that, so a loop is enough.
    }
    std::memcpy(key.data(), bytes, sizeof bytes);
    return key;
}

} // namespace

std::uint64_t SipHash(const TSipKey& AKey, std::string_view AData, int ACRounds, int AFRounds) {
    if (ACRounds == 1 && AFRounds == 3)
        return SipHashOf(AKey, AData, 1, 3);
    return SipHashOf(AKey, AData, ACRounds, AFRounds);
}

const TSipKey& ProcessHashKey() {
    static const TSipKey key = DrawKey();
    return key;
}
