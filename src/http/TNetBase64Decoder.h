// Base64 decoding (RFC 2045 alphabet) and the Basic credentials of an Authorization value.
// A decoder holds no state between calls; any thread.
#pragma once

#include <string>

class TNetBase64Decoder {
public:
    // CR and LF are skipped; trailing "=" of the last group are dropped. Any other character
    // outside the alphabet, or a last group of one character, raises ENetTableNotFound.
    std::string Decode(const std::string& AText) const;

private:
    static void DecodeGroup(const std::string& AGroup, std::string& AOut);
};

// Splits an Authorization value into user name and password. Only the Basic scheme (any
// letter case) is understood: others raise ENetHTTPUnsupportedAuthorisationScheme.
void DecodeBasicCredentials(const std::string& AValue, std::string& AUsername,
                            std::string& APassword);
