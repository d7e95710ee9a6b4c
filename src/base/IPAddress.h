// IPv4 and IPv6 addresses as values: literals read strictly, the text every record shows
// (dotted IPv4, the short IPv6 form of RFC 5952), ranges in CIDR notation and lists of them.
// Plain values and pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// An address of either family in 16 bytes. An IPv4 address is held IPv4-mapped
// (::ffff:a.b.c.d), so a client that reached a dual-stack socket over IPv4 is the same value
// as one that reached an IPv4 socket.
struct TIPAddress {
    std::array<std::uint8_t, 16> Bytes{};

    bool IsV4() const;
    bool operator==(const TIPAddress&) const = default;
};

// The longest address literal: eight groups, or six groups and an IPv4 tail.
inline constexpr std::size_t MaxIPAddressText = 45;

// Four dotted decimal parts (0 to 255, no leading zeros), or an IPv6 literal without brackets
// and zone; nothing for any other text.
std::optional<TIPAddress> ParseIPAddress(std::string_view AText);
// Dotted decimal for IPv4 (also IPv4-mapped); IPv6 in lower-case hex groups without leading
// zeros, the longest run of two or more zero groups (the first of equal runs) as "::".
std::string IPAddressText(const TIPAddress& AAddress);
// AText as the records show it when it is an address literal ("2001:DB8:0::1" gives
// "2001:db8::1", "::ffff:10.0.0.7" gives "10.0.0.7"); otherwise AText itself.
std::string CanonicalAddressText(std::string_view AText);
// Address text and port as "10.0.0.7:88", or "[2001:db8::1]:88" when the text holds a colon.
std::string AddressAndPort(std::string_view AText, int APort);

// The addresses that share their first PrefixBits bits with First. IPv4 ranges hold only
// IPv4 addresses and IPv6 ranges only IPv6 ones (an IPv4-mapped range is an IPv4 range).
struct TIPRange {
    TIPAddress First;   // the bits after the prefix are zero
    int PrefixBits = 0; // of all 128 bits (an IPv4 /8 is 104)

    bool Contains(const TIPAddress& AAddress) const;
    bool operator==(const TIPRange&) const = default;
};

// The range of the first ABits bits (0 to 128) of AAddress.
TIPRange RangeOf(const TIPAddress& AAddress, int ABits);
// "address" (one address) or "address/bits": 0 to 32 bits after an IPv4 address, 0 to 128
// after an IPv6 one (96 to 128 when it is IPv4-mapped); bits after the prefix are ignored.
std::optional<TIPRange> ParseIPRange(std::string_view AText);
// Ranges separated by commas, blanks around each ignored, empty items passed over; an item
// that is no range is left out and, when ABad is given, added to it.
std::vector<TIPRange> ParseIPRangeList(std::string_view AText,
                                       std::vector<std::string>* ABad = nullptr);
bool InRanges(std::span<const TIPRange> ARanges, const TIPAddress& AAddress);

// The address with only its first AKeepV4Bits (IPv4, 0 to 32) or AKeepV6Bits (IPv6, 0 to 128)
// bits, the others zero: what a record keeps of a visitor when addresses are masked.
TIPAddress MaskedAddress(const TIPAddress& AAddress, int AKeepV4Bits, int AKeepV6Bits);
// The same for an address's text, in the records' form ("203.0.113.7" keeping 16 bits gives
// "203.0.0.0", "2001:db8:1:2::7" keeping 32 gives "2001:db8::"); a text that is no address
// literal gives "-", so nothing of it reaches a record.
std::string MaskedAddressText(std::string_view AText, int AKeepV4Bits, int AKeepV6Bits);
