#include "http/NetHTTPForwarded.h"

#include "http/NetHTTPText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace {

constexpr std::string_view XForwardedForName = "X-Forwarded-For";
constexpr std::string_view ForwardedName = "Forwarded";
// The longest node: a bracketed IPv6 address with a colon and a port of five digits.
constexpr std::size_t MaxNodeText = MaxIPAddressText + 8;

// A port of up to five digits (at most 65535), or an obfuscated one ("_" and letters, digits,
// ".", "_" or "-").
bool IsPort(std::string_view AText) {
    if (AText.size() > 1 && AText.front() == '_')
        return std::all_of(AText.begin() + 1, AText.end(), [](char C) {
            return std::isalnum(static_cast<unsigned char>(C)) || C == '.' || C == '_' || C == '-';
        });
    int port = -1;
    auto [end, error] = std::from_chars(AText.data(), AText.data() + AText.size(), port);
    return !AText.empty() && AText.size() <= 5 && error == std::errc() &&
           end == AText.data() + AText.size() && port >= 0 && port <= 65535;
}

// The last ForwardedHopLimit elements of a list, and whether earlier ones were dropped.
class TLastElements {
public:
    void Add(std::string_view AElement) { FItems[FTotal++ % FItems.size()] = AElement; }
    std::size_t Count() const { return std::min(FTotal, FItems.size()); }
    bool Dropped() const { return FTotal > FItems.size(); }
    // AFromRight 0 is the last element added.
    std::string_view FromRight(std::size_t AFromRight) const {
        return FItems[(FTotal - 1 - AFromRight) % FItems.size()];
    }

private:
    std::array<std::string_view, ForwardedHopLimit> FItems;
    std::size_t FTotal = 0;
};

// Adds the non-empty items of AText between ASeparator characters, trimmed; a separator
// inside a quoted string does not count when AQuoted. False when a quoted string is not closed.
template <typename FAdd>
bool SplitItems(std::string_view AText, char ASeparator, bool AQuoted, FAdd AAdd) {
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i <= AText.size(); ++i) {
        if (i < AText.size() && quoted) {
            if (AText[i] == '\\')
                ++i; // a quoted pair: the next character stands for itself
            else if (AText[i] == '"')
                quoted = false;
            continue;
        }
        if (i < AText.size() && AText[i] == '"' && AQuoted) {
            quoted = true;
            continue;
        }
        if (i < AText.size() && AText[i] != ASeparator)
            continue;
        const std::string_view item = TrimmedBlanks(AText.substr(start, i - start));
        if (!item.empty())
            AAdd(item);
        start = i + 1;
    }
    return !quoted;
}

enum class TRead { Absent, Read, Unreadable };

// The elements of every line of the header AName, in order. A line folded onto the next, a
// quoted string not closed, and values longer than ForwardedValueLimit make it Unreadable.
TRead ReadElements(const TNetHeaderList& AHeaders, std::string_view AName, bool AQuoted,
                   TLastElements& AElements) {
    TRead read = TRead::Absent;
    std::size_t length = 0;
    const int count = AHeaders.Count();
    for (int i = 0; i < count; ++i) {
        const std::string_view line = AHeaders.Strings(i);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !SameTextAscii(line.substr(0, colon), AName))
            continue;
        const std::string_view value = TrimmedBlanks(line.substr(colon + 1));
        length += value.size();
        const bool folded = i + 1 < count && !AHeaders.Strings(i + 1).empty() &&
                            IsHeaderBlank(AHeaders.Strings(i + 1).front());
        if (folded || length > ForwardedValueLimit ||
            !SplitItems(value, ',', AQuoted, [&](std::string_view A) { AElements.Add(A); }))
            return TRead::Unreadable;
        read = TRead::Read;
    }
    return read;
}

// Walks the elements from the right past the trusted ones (see ClientOfXForwardedFor).
template <typename FNodeOf>
TNetForwarded WalkFromRight(const TLastElements& AElements, std::span<const TIPRange> ATrusted,
                            FNodeOf ANodeOf) {
    const TNetForwarded unusable{TNetForwardedVerdict::Unusable, {}};
    std::optional<TIPAddress> node;
    for (std::size_t i = 0; i < AElements.Count(); ++i) {
        node = ANodeOf(AElements.FromRight(i));
        if (!node)
            return unusable;
        if (!InRanges(ATrusted, *node))
            return {TNetForwardedVerdict::Client, *node};
    }
    if (!node || AElements.Dropped())
        return unusable;
    return {TNetForwardedVerdict::Client, *node};
}

template <typename FNodeOf>
TNetForwarded ClientOfHeader(const TNetHeaderList& AHeaders, std::string_view AName, bool AQuoted,
                             std::span<const TIPRange> ATrusted, FNodeOf ANodeOf) {
    TLastElements elements;
    switch (ReadElements(AHeaders, AName, AQuoted, elements)) {
    case TRead::Absent:
        return {};
    case TRead::Unreadable:
        return {TNetForwardedVerdict::Unusable, {}};
    case TRead::Read:
        break;
    }
    return WalkFromRight(elements, ATrusted, ANodeOf);
}

// The text of a quoted string without its quotes and quoted pairs; false when it does not
// fit AOut (MaxNodeText) or is no quoted string.
bool Unquote(std::string_view AValue, std::array<char, MaxNodeText>& AOut, std::size_t& ASize) {
    if (AValue.size() < 2 || AValue.front() != '"' || AValue.back() != '"')
        return false;
    ASize = 0;
    for (std::size_t i = 1; i + 1 < AValue.size(); ++i) {
        if (AValue[i] == '\\' && i + 2 < AValue.size())
            ++i;
        if (ASize == AOut.size())
            return false;
        AOut[ASize++] = AValue[i];
    }
    return true;
}

} // namespace

std::optional<TIPAddress> ParseForwardedNode(std::string_view AText, bool ABareIPv6) {
    if (AText.empty() || AText.size() > MaxNodeText)
        return std::nullopt;
    std::string_view host = AText;
    std::string_view port;
    bool hasPort = false;
    if (AText.front() == '[') {
        const std::size_t close = AText.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = AText.substr(1, close - 1);
        const std::string_view rest = AText.substr(close + 1);
        if (host.find(':') == std::string_view::npos || (!rest.empty() && rest.front() != ':'))
            return std::nullopt;
        hasPort = !rest.empty();
        port = hasPort ? rest.substr(1) : rest;
    } else if (std::count(AText.begin(), AText.end(), ':') == 1) {
        const std::size_t colon = AText.find(':');
        host = AText.substr(0, colon);
        port = AText.substr(colon + 1);
        hasPort = true;
    } else if (AText.find(':') != std::string_view::npos && !ABareIPv6) {
        return std::nullopt;
    }
    if (hasPort && !IsPort(port))
        return std::nullopt;
    return ParseIPAddress(host);
}

std::optional<TIPAddress> ForwardedForOf(std::string_view AElement) {
    std::optional<std::string_view> value;
    bool wellFormed = true;
    const bool closed = SplitItems(AElement, ';', true, [&](std::string_view APair) {
        const std::size_t equals = APair.find('=');
        if (equals == std::string_view::npos) {
            wellFormed = false;
            return;
        }
        if (!SameTextAscii(TrimmedBlanks(APair.substr(0, equals)), "for"))
            return;
        wellFormed = wellFormed && !value; // "for" once at most
        value = TrimmedBlanks(APair.substr(equals + 1));
    });
    if (!closed || !wellFormed || !value)
        return std::nullopt;
    if (value->empty() || value->front() != '"')
        return ParseForwardedNode(*value, false);
    std::array<char, MaxNodeText> text;
    std::size_t size = 0;
    if (!Unquote(*value, text, size))
        return std::nullopt;
    return ParseForwardedNode(std::string_view(text.data(), size), false);
}

TNetForwarded ClientOfXForwardedFor(const TNetHeaderList& AHeaders,
                                    std::span<const TIPRange> ATrusted) {
    return ClientOfHeader(AHeaders, XForwardedForName, false, ATrusted,
                          [](std::string_view A) { return ParseForwardedNode(A, true); });
}

TNetForwarded ClientOfForwarded(const TNetHeaderList& AHeaders,
                                std::span<const TIPRange> ATrusted) {
    return ClientOfHeader(AHeaders, ForwardedName, true, ATrusted, ForwardedForOf);
}

std::optional<TIPAddress> ForwardedClientOf(const TNetHeaderList& AHeaders,
                                            std::span<const TIPRange> ATrusted,
                                            TNetForwardedHeader AHeader) {
    const TNetForwarded named = AHeader == TNetForwardedHeader::Forwarded
                                    ? ClientOfForwarded(AHeaders, ATrusted)
                                    : ClientOfXForwardedFor(AHeaders, ATrusted);
    if (named.Verdict != TNetForwardedVerdict::Client)
        return std::nullopt;
    return named.Client;
}
