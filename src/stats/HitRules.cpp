#include "stats/HitRules.h"

#include <array>
#include <optional>

#include "base/HexDigit.h"
#include "base/Utf8.h"

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

namespace {

// Takes the next item off a parameter text: its name (still encoded) and its value (still
// encoded, none when the item has no "=").
void TakeParamItem(std::string_view& AParams, std::string_view& AName,
                   std::optional<std::string_view>& AValue) {
    std::size_t end = std::min(FindAny(AParams, "&\r\n"), AParams.size());
    std::string_view item = AParams.substr(0, end);
    AParams.remove_prefix(std::min(end + 1, AParams.size()));
    std::size_t eq = item.find('=');
    AName = item.substr(0, eq);
    AValue.reset();
    if (eq != std::string_view::npos)
        AValue = item.substr(eq + 1);
}

} // namespace

bool FindParam(std::string_view AParams, std::string_view AName, std::string& AValue) {
    std::string decodedName;
    std::string_view name;
    std::optional<std::string_view> value;
    while (!AParams.empty()) {
        TakeParamItem(AParams, name, value);
        if (FindAny(name, "%+") != std::string_view::npos) {
            decodedName.clear();
            AppendUrlDecoded(name, decodedName);
            name = decodedName;
        }
        if (name != AName)
            continue;
        AValue.clear();
        if (value)
            AppendUrlDecoded(*value, AValue);
        return true;
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> DecodedParamsOf(std::string_view AParams) {
    std::vector<std::pair<std::string, std::string>> items;
    std::string_view name;
    std::optional<std::string_view> value;
    while (!AParams.empty()) {
        TakeParamItem(AParams, name, value);
        if (name.empty() && !value)
            continue; // "a&&b": nothing between the two
        auto& item = items.emplace_back();
        AppendUrlDecoded(name, item.first);
        if (value)
            AppendUrlDecoded(*value, item.second);
    }
    return items;
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

bool IsImageView(std::string_view ADocument, int AStatus) {
    return IsGifDocument(ADocument) && (AStatus == 200 || AStatus == 304);
}

void AssignPageOf(std::string_view AParams, std::string_view AReferer, std::string& APage) {
    if (FindParam(AParams, "page", APage) && !APage.empty())
        return;
    std::string_view page = WithoutQueryAndFragment(AReferer);
    APage.assign(page.empty() ? UnknownPage : page);
}

void AssignSourceOf(std::string_view AParams, std::string& ASource, std::string& AScratch) {
    ASource.clear();
    if (FindParam(AParams, "ref", AScratch))
        AssignHostOf(AScratch, ASource);
    if (ASource.empty())
        ASource.assign(DirectSource);
}

void CutCountedName(std::string& AName) {
    if (AName.size() <= MaxCountedNameBytes)
        return;
    std::size_t cut = MaxCountedNameBytes - 3;
    while (cut > 0 && (static_cast<unsigned char>(AName[cut]) & 0xC0) == 0x80)
        --cut;
    AName.resize(cut);
    AName += "...";
}

THitClass ClassifyHit(std::string_view ADocument, int AStatus, std::string_view AParams,
                      std::string_view AReferer, std::string_view AUserAgent) {
    THitClass hit;
    const bool bot = IsBotAgent(AUserAgent);
    hit.PageView = IsImageView(ADocument, AStatus) && !bot;
    hit.Bot = IsImageView(ADocument, AStatus) && bot;
    std::string scratch;
    AssignPageOf(AParams, AReferer, hit.Page);
    AssignSourceOf(AParams, hit.Source, scratch);
    CutCountedName(hit.Page);
    CutCountedName(hit.Source);
    hit.Browser = BrowserFamilyOf(AUserAgent);
    return hit;
}
