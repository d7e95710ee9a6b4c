#include "base/IPAddress.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr int V4PrefixBits = 96; // the bits before an IPv4 address in its mapped form

std::string_view TrimBlanks(std::string_view AText) {
    while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t'))
        AText.remove_prefix(1);
    while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t'))
        AText.remove_suffix(1);
    return AText;
}

// The first and length of the longest run of zero groups of at least two; length 0 for none.
std::pair<int, int> LongestZeroRun(const std::array<unsigned, 8>& AGroups) {
    int bestFirst = 0, bestLength = 0;
    for (int i = 0; i < 8;) {
        int length = 0;
        while (i + length < 8 && AGroups[i + length] == 0)
            ++length;
        if (length > bestLength) {
            bestFirst = i;
            bestLength = length;
        }
        i += length > 0 ? length : 1;
    }
    return {bestFirst, bestLength >= 2 ? bestLength : 0};
}

std::string V6Text(const TIPAddress& AAddress) {
    std::array<unsigned, 8> groups{};
    for (int i = 0; i < 8; ++i)
        groups[i] = (unsigned{AAddress.Bytes[2 * i]} << 8) | AAddress.Bytes[2 * i + 1];
    const auto [zeroFirst, zeroLength] = LongestZeroRun(groups);
    std::string text;
    char hex[8];
    for (int i = 0; i < 8; ++i) {
        if (zeroLength > 0 && i == zeroFirst) {
            text += "::";
            i += zeroLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        std::snprintf(hex, sizeof hex, "%x", groups[i]);
        text += hex;
    }
    return text;
}

} // namespace

bool TIPAddress::IsV4() const {
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), Bytes.begin());
}

std::optional<TIPAddress> ParseIPAddress(std::string_view AText) {
    if (AText.empty() || AText.size() > MaxIPAddressText)
        return std::nullopt;
    char text[MaxIPAddressText + 1];
    std::memcpy(text, AText.data(), AText.size());
    text[AText.size()] = '\0';
    TIPAddress address;
    if (inet_pton(AF_INET6, text, address.Bytes.data()) == 1)
        return address;
    std::copy(MappedPrefix.begin(), MappedPrefix.end(), address.Bytes.begin());
    if (inet_pton(AF_INET, text, address.Bytes.data() + MappedPrefix.size()) == 1)
        return address;
    return std::nullopt;
}

std::string IPAddressText(const TIPAddress& AAddress) {
    if (!AAddress.IsV4())
        return V6Text(AAddress);
    // Written digit by digit: every accepted connection's address is shown this way.
    const std::uint8_t* v4 = AAddress.Bytes.data() + MappedPrefix.size();
    char text[MaxIPAddressText];
    char* end = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *end++ = '.';
        const unsigned value = v4[i];
        if (value >= 100)
            *end++ = static_cast<char>('0' + value / 100);
        if (value >= 10)
            *end++ = static_cast<char>('0' + value / 10 % 10);
        *end++ = static_cast<char>('0' + value % 10);
    }
    return std::string(text, end);
}

std::string CanonicalAddressText(std::string_view AText) {
    const std::optional<TIPAddress> address = ParseIPAddress(AText);
    return address ? IPAddressText(*address) : std::string(AText);
}

std::string AddressAndPort(std::string_view AText, int APort) {
    const bool v6 = AText.find(':') != std::string_view::npos;
    return (v6 ? "[" + std::string(AText) + "]" : std::string(AText)) + ":" + std::to_string(APort);
}

TIPRange RangeOf(const TIPAddress& AAddress, int ABits) {
    TIPRange range{AAddress, ABits < 0 ? 0 : (ABits > 128 ? 128 : ABits)};
    for (int bit = range.PrefixBits; bit < 128; ++bit)
        range.First.Bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
    return range;
}

bool TIPRange::Contains(const TIPAddress& AAddress) const {
    if (AAddress.IsV4() != First.IsV4())
        return false;
    return RangeOf(AAddress, PrefixBits).First == First;
}

std::optional<TIPRange> ParseIPRange(std::string_view AText) {
    const std::size_t slash = AText.find('/');
    const std::optional<TIPAddress> address = ParseIPAddress(AText.substr(0, slash));
    if (!address)
        return std::nullopt;
    if (slash == std::string_view::npos)
        return TIPRange{*address, 128};
    const std::string_view digits = AText.substr(slash + 1);
    int bits = -1;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    if (digits.empty() || digits.size() > 3 || error != std::errc() ||
        end != digits.data() + digits.size())
        return std::nullopt;
    // An IPv4 prefix counts the bits of the dotted address; a mapped one in IPv6 notation the
    // bits of all 128, and must keep the mapping's own 96.
    const bool dotted = AText.substr(0, slash).find(':') == std::string_view::npos;
    const int offset = dotted ? V4PrefixBits : 0;
    const int least = address->IsV4() && !dotted ? V4PrefixBits : 0;
    if (bits < 0 || bits + offset < least || bits + offset > 128)
        return std::nullopt;
    return RangeOf(*address, bits + offset);
}

std::vector<TIPRange> ParseIPRangeList(std::string_view AText, std::vector<std::string>* ABad) {
    std::vector<TIPRange> ranges;
    while (!AText.empty()) {
        const std::size_t comma = AText.find(',');
        const std::string_view item = TrimBlanks(AText.substr(0, comma));
        AText.remove_prefix(comma == std::string_view::npos ? AText.size() : comma + 1);
        if (item.empty())
            continue;
        if (std::optional<TIPRange> range = ParseIPRange(item))
            ranges.push_back(*range);
        else if (ABad)
            ABad->emplace_back(item);
    }
    return ranges;
}

bool InRanges(std::span<const TIPRange> ARanges, const TIPAddress& AAddress) {
    for (const TIPRange& range : ARanges)
        if (range.Contains(AAddress))
            return true;
    return false;
}

TIPAddress MaskedAddress(const TIPAddress& AAddress, int AKeepV4Bits, int AKeepV6Bits) {
    if (!AAddress.IsV4())
        return RangeOf(AAddress, AKeepV6Bits).First;
    // The mapping's own 96 bits stay, so the result is still an IPv4 address.
    const int bits = AKeepV4Bits < 0 ? 0 : (AKeepV4Bits > 32 ? 32 : AKeepV4Bits);
    return RangeOf(AAddress, V4PrefixBits + bits).First;
}

std::string MaskedAddressText(std::string_view AText, int AKeepV4Bits, int AKeepV6Bits) {
    const std::optional<TIPAddress> address = ParseIPAddress(AText);
    return address ? IPAddressText(MaskedAddress(*address, AKeepV4Bits, AKeepV6Bits)) : "-";
}
