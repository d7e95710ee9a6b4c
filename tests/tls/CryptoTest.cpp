#include "tls/Crypto.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <random>

#include "base/KeyedHash.h"

namespace {

// SipHash as OpenSSL computes it, for the rounds OpenSSL is told.
std::uint64_t OpenSSLSipHash(const TSipKey& AKey, const std::string& AData, unsigned ACRounds,
                             unsigned AFRounds) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "SIPHASH", nullptr);
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
    size_t size = 8;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size),
        OSSL_PARAM_construct_uint(OSSL_MAC_PARAM_C_ROUNDS, &ACRounds),
        OSSL_PARAM_construct_uint(OSSL_MAC_PARAM_D_ROUNDS, &AFRounds),
        OSSL_PARAM_construct_end(),
    };
    unsigned char key[16];
    for (int i = 0; i < 16; ++i)
        key[i] = static_cast<unsigned char>(AKey[i / 8] >> (8 * (i % 8)));
    EXPECT_EQ(EVP_MAC_init(context, key, sizeof key, params), 1);
    EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(AData.data()), AData.size());
    unsigned char out[8];
    size_t length = 0;
    EVP_MAC_final(context, out, &length, sizeof out);
    EVP_MAC_CTX_free(context);
    EVP_MAC_free(mac);
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value |= std::uint64_t(out[i]) << (8 * i);
    return value;
}

} // namespace

TEST(CryptoTest, DigestsMatchTheirPublishedVectors) {
    EXPECT_EQ(HexText(HmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(HexText(Pbkdf2Sha256("password", "salt", 1, 32)),
              "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
    // SipHash-2-4, key 00..0f, messages 00, 00 01, ... (the reference vectors).
    const TSipKey key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
    EXPECT_EQ(SipHash(key, "", 2, 4), 0x726fdb47dd0e0e31ULL);
    EXPECT_EQ(SipHash(key, std::string(1, '\0'), 2, 4), 0x74f839c593dc67fdULL);
    EXPECT_EQ(SipHash(key, std::string("\0\1", 2), 2, 4), 0x0d6c8009d9a94f5aULL);
}

TEST(CryptoTest, TableHashEqualsOpenSSLsSipHashOneThreeAtEveryLength) {
    std::mt19937_64 random(7);
    for (std::size_t length = 0; length <= 40; ++length) {
        const TSipKey key{random(), random()};
        std::string data(length, '\0');
        for (char& byte : data)
            byte = static_cast<char>(random());
        EXPECT_EQ(SipHash(key, data), OpenSSLSipHash(key, data, 1, 3)) << "length " << length;
    }
}

TEST(CryptoTest, HexRoundTripsAndRefusesWhatIsNotHex) {
    const std::string bytes("\x00\x7f\x80\xff", 4);
    EXPECT_EQ(HexText(bytes), "007f80ff");
    EXPECT_EQ(BytesOfHex("007F80ff"), bytes);
    EXPECT_EQ(BytesOfHex("abc"), "");
    EXPECT_EQ(BytesOfHex("zz"), "");
    EXPECT_TRUE(SameSecret("secret", "secret"));
    EXPECT_FALSE(SameSecret("secret", "secreT"));
    EXPECT_FALSE(SameSecret("secret", "secrets"));
    EXPECT_EQ(RandomBytes(16).size(), 16u);
    EXPECT_NE(RandomBytes(16), RandomBytes(16));
}
