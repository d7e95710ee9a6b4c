#include "tls/Crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include "base/HexDigit.h"

std::string RandomBytes(std::size_t ACount) {
    std::string bytes(ACount, '\0');
    if (ACount > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), int(ACount)) != 1)
        return {};
    return bytes;
}

namespace {

// An HMAC context with its digest chosen and no key, which each call copies: choosing the
// digest by name looks the algorithm up in OpenSSL's tables under their lock, a copy does
// not. Never freed: a detached peer thread may still copy it while the process exits.
const EVP_MAC_CTX* HmacSha256Prototype() {
    static const EVP_MAC_CTX* const prototype = [] {
        EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* context = mac ? EVP_MAC_CTX_new(mac) : nullptr;
        EVP_MAC_free(mac); // the context keeps its own reference
        char digest[] = "SHA256";
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_end()};
        if (context && EVP_MAC_CTX_set_params(context, params) != 1) {
            EVP_MAC_CTX_free(context);
            context = nullptr;
        }
        return context;
    }();
    return prototype;
}

} // namespace

bool HmacSha256Into(std::string_view AKey, std::string_view AData, TSha256Digest& ADigest) {
    const EVP_MAC_CTX* prototype = HmacSha256Prototype();
    EVP_MAC_CTX* context = prototype ? EVP_MAC_CTX_dup(prototype) : nullptr;
    if (!context)
        return false;
    std::size_t length = 0;
    const bool done = EVP_MAC_init(context, reinterpret_cast<const unsigned char*>(AKey.data()),
                                   AKey.size(), nullptr) == 1 &&
                      EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(AData.data()),
                                     AData.size()) == 1 &&
                      EVP_MAC_final(context, ADigest.data(), &length, ADigest.size()) == 1 &&
                      length == ADigest.size();
    EVP_MAC_CTX_free(context); // wipes what it derived from the key
    return done;
}

std::string HmacSha256(std::string_view AKey, std::string_view AData) {
    TSha256Digest digest{};
    if (!HmacSha256Into(AKey, AData, digest))
        return {};
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

void WipeSecret(void* AData, std::size_t ASize) {
    OPENSSL_cleanse(AData, ASize);
}

std::string Pbkdf2Sha256(std::string_view APassword, std::string_view ASalt, int ARounds,
                         std::size_t ALength) {
    std::string key(ALength, '\0');
    if (PKCS5_PBKDF2_HMAC(APassword.data(), int(APassword.size()),
                          reinterpret_cast<const unsigned char*>(ASalt.data()), int(ASalt.size()),
                          ARounds, EVP_sha256(), int(ALength),
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        return {};
    return key;
}

bool SameSecret(std::string_view A, std::string_view B) {
    return A.size() == B.size() && CRYPTO_memcmp(A.data(), B.data(), A.size()) == 0;
}

std::string HexText(std::string_view ABytes) {
    static const char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(ABytes.size() * 2);
    for (unsigned char byte : ABytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

std::string BytesOfHex(std::string_view AHex) {
    if (AHex.size() % 2 != 0)
        return {};
    std::string bytes;
    bytes.reserve(AHex.size() / 2);
    for (std::size_t i = 0; i < AHex.size(); i += 2) {
        int high = HexDigit(AHex[i]);
        int low = HexDigit(AHex[i + 1]);
        if (high < 0 || low < 0)
            return {};
        bytes += char(high * 16 + low);
    }
    return bytes;
}
