#include "stats/HitRules.h"

#include <array>

#include "base/HexDigit.h"

namespace {

constexpr std::array<std::string_view, 16> kBotWords = {
    "bot",    "crawl", "spider", "slurp", "curl",    "wget",       "python",    "headless",
    "scrapy", "fetch", "libwww", "java/", "go-http", "httpclient", "phantomjs", "lighthouse"};

char LowerAscii(char AChar) {
    return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}

// The first position of any of ASet's characters. The library's find_first_of searches the
// set once per character of the text, which costs a call each; a file has millions of them.
std::size_t FindAny(std::string_view AText, std::string_view ASet) {
    for (std::size_t i = 0; i < AText.size(); ++i)
        for (char c : ASet)
            if (AText[i] == c)
                return i;
    return std::string_view::npos;
}

bool Contains(std::string_view AText, std::string_view APart) {
    return AText.find(APart) != std::string_view::npos;
}

// The length of the UTF-8 character at AAt (2 to 4), or 0 when the bytes there are not one
// (bad lead or continuation byte, overlong form, surrogate, above U+10FFFF).
std::size_t Utf8Length(std::string_view AText, std::size_t AAt) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(AText[i]); };
    unsigned lead = byte(AAt);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || AAt + length > AText.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(AAt + i) & 0xC0) != 0x80)
            return 0;
    unsigned second = byte(AAt + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

void AppendHexEscape(unsigned char AByte, std::string& AOut) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    AOut += "\\x";
    AOut += kHex[AByte >> 4];
    AOut += kHex[AByte & 0x0F];
}

} // namespace

std::span<const std::string_view> BotWords() {
    return kBotWords;
}

bool IsBotAgent(std::string_view AUserAgent) {
    // Lower-cased once into a small buffer, so each word is one fast search; agents longer
    // than the buffer are judged by their start, where the product names stand.
    char lower[512];
    std::size_t length = std::min(AUserAgent.size(), sizeof lower);
    for (std::size_t i = 0; i < length; ++i)
        lower[i] = LowerAscii(AUserAgent[i]);
    std::string_view text(lower, length);
    for (std::string_view word : kBotWords)
        if (Contains(text, word))
            return true;
    return false;
}

std::string_view BrowserFamilyOf(std::string_view AUserAgent) {
    std::string_view ua = AUserAgent;
    if (Contains(ua, "Edg/") || Contains(ua, "Edge/") || Contains(ua, "EdgA/") ||
        Contains(ua, "EdgiOS/"))
        return "Edge";
    if (Contains(ua, "OPR/") || Contains(ua, "Opera"))
        return "Opera";
    if (Contains(ua, "Firefox/") || Contains(ua, "FxiOS/"))
        return "Firefox";
    if (Contains(ua, "Chrome/") || Contains(ua, "CriOS/") || Contains(ua, "Chromium/"))
        return "Chrome";
    if (Contains(ua, "Safari/"))
        return "Safari";
    return "other";
}

bool IsGifDocument(std::string_view ADocument) {
    constexpr std::string_view suffix = ".gif";
    if (ADocument.size() < suffix.size())
        return false;
    std::string_view end = ADocument.substr(ADocument.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (LowerAscii(end[i]) != suffix[i])
            return false;
    return true;
}

void AppendUrlDecoded(std::string_view AText, std::string& AOut) {
    for (std::size_t i = 0; i < AText.size(); ++i) {
        char c = AText[i];
        if (c == '+') {
            AOut += ' ';
        } else if (c == '%' && i + 2 < AText.size() && HexDigit(AText[i + 1]) >= 0 &&
                   HexDigit(AText[i + 2]) >= 0) {
            AOut += static_cast<char>(HexDigit(AText[i + 1]) * 16 + HexDigit(AText[i + 2]));
            i += 2;
        } else {
            AOut += c;
        }
    }
}

bool FindParam(std::string_view AParams, std::string_view AName, std::string& AValue) {
    std::string decodedName;
    while (!AParams.empty()) {
        std::size_t end = std::min(FindAny(AParams, "&\r\n"), AParams.size());
        std::string_view item = AParams.substr(0, end);
        AParams.remove_prefix(std::min(end + 1, AParams.size()));
        std::size_t eq = item.find('=');
        std::string_view name = item.substr(0, eq);
        if (FindAny(name, "%+") != std::string_view::npos) {
            decodedName.clear();
            AppendUrlDecoded(name, decodedName);
            name = decodedName;
        }
        if (name != AName)
            continue;
        AValue.clear();
        if (eq != std::string_view::npos)
            AppendUrlDecoded(item.substr(eq + 1), AValue);
        return true;
    }
    return false;
}

std::string_view WithoutQueryAndFragment(std::string_view AUrl) {
    return AUrl.substr(0, FindAny(AUrl, "?#"));
}

void AssignHostOf(std::string_view AUrl, std::string& AHost) {
    std::string_view rest = AUrl;
    std::size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos && scheme < FindAny(rest, "/?#"))
        rest.remove_prefix(scheme + 3);
    else if (rest.substr(0, 2) == "//")
        rest.remove_prefix(2);
    rest = rest.substr(0, FindAny(rest, "/?#\\"));
    if (std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (!rest.empty() && rest.front() == '[')
        rest = rest.substr(0, rest.find(']') + 1);
    else
        rest = rest.substr(0, rest.find(':'));
    if (!rest.empty() && rest.back() == '.')
        rest.remove_suffix(1);
    AHost.clear();
    for (char c : rest)
        AHost += LowerAscii(c);
}

std::string DisplayName(std::string_view AName) {
    std::string shown;
    shown.reserve(AName.size());
    for (std::size_t i = 0; i < AName.size();) {
        auto byte = static_cast<unsigned char>(AName[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown += AName[i++];
            continue;
        }
        std::size_t length = byte >= 0x80 ? Utf8Length(AName, i) : 0;
        // U+0080 to U+009F are control characters too.
        bool control =
            length == 2 && byte == 0xC2 && static_cast<unsigned char>(AName[i + 1]) < 0xA0;
        if (length == 0 || control) {
            AppendHexEscape(byte, shown);
            ++i;
        } else {
            shown.append(AName.substr(i, length));
            i += length;
        }
    }
    return shown;
}
