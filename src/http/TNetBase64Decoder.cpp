#include "http/TNetBase64Decoder.h"

#include "http/NetHTTPExceptions.h"
#include "http/NetHTTPText.h"

#include <algorithm>

namespace {

const std::string Base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned SixBitsOf(char AChar) {
    const size_t index = Base64Alphabet.find(AChar);
    if (index == std::string::npos)
        throw ENetTableNotFound();
    return static_cast<unsigned>(index);
}

} // namespace

// Two to four characters give one to three bytes, most significant bits first.
void TNetBase64Decoder::DecodeGroup(const std::string& AGroup, std::string& AOut) {
    if (AGroup.empty())
        return;
    if (AGroup.size() == 1)
        throw ENetTableNotFound();
    unsigned bits = 0;
    for (char c : AGroup)
        bits = (bits << 6) | SixBitsOf(c);
    bits <<= 6 * (4 - AGroup.size());
    const size_t bytes = AGroup.size() - 1;
    for (size_t i = 0; i < bytes; ++i)
        AOut += static_cast<char>((bits >> (16 - 8 * i)) & 0xFF);
}

std::string TNetBase64Decoder::Decode(const std::string& AText) const {
    std::string text = AText;
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }),
        text.end());
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    size_t pos = 0;
    while (text.size() - pos > 4) {
        DecodeGroup(text.substr(pos, 4), out);
        pos += 4;
    }
    std::string last = text.substr(pos);
    while (!last.empty() && last.back() == '=')
        last.pop_back();
    DecodeGroup(last, out);
    return out;
}

void DecodeBasicCredentials(const std::string& AValue, std::string& AUsername,
                            std::string& APassword) {
    std::string rest = AValue;
    const std::string scheme = TakeUntil(rest, " ");
    if (!SameTextAscii(scheme, "Basic"))
        throw ENetHTTPUnsupportedAuthorisationScheme();
    std::string decoded = TNetBase64Decoder().Decode(rest);
    AUsername = TakeUntil(decoded, ":");
    APassword = decoded;
}
