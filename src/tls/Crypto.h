// Secrets and digests through OpenSSL for the layers above (visitor ids, passwords, session
// ids), so that no other library links it. Pure functions; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// ACount bytes from the system's cryptographic generator; empty when it failed.
std::string RandomBytes(std::size_t ACount);
// HMAC-SHA-256 of AData under AKey: 32 raw bytes.
std::string HmacSha256(std::string_view AKey, std::string_view AData);
// The same into ADigest, for many calls a second: the algorithm is fetched once per process
// rather than at every call, and the context that held the key is wiped and freed before this
// returns. False when it failed.
using TSha256Digest = std::array<unsigned char, 32>;
[[nodiscard]] bool HmacSha256Into(std::string_view AKey, std::string_view AData,
                                  TSha256Digest& ADigest);
// Overwrites ASize bytes of a secret at AData in a way the compiler cannot leave out.
void WipeSecret(void* AData, std::size_t ASize);
// PBKDF2-HMAC-SHA-256 of APassword with ASalt over ARounds rounds: ALength raw bytes; empty
// when it failed.
std::string Pbkdf2Sha256(std::string_view APassword, std::string_view ASalt, int ARounds,
                         std::size_t ALength);
// Whether two secrets are equal, in a time that does not depend on where they differ (their
// lengths are not secret).
bool SameSecret(std::string_view A, std::string_view B);
// Lower-case hexadecimal of raw bytes, and the bytes back (empty for text that is not an even
// count of hex digits).
std::string HexText(std::string_view ABytes);
std::string BytesOfHex(std::string_view AHex);
