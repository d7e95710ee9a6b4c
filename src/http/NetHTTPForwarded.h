// What the forwarding headers of a request ("X-Forwarded-For", "Forwarded") say about the
// client behind a chain of proxies. Pure functions over the header lines, whose work and memory
// are bounded whatever the lines hold; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "base/IPAddress.h"
#include "http/TNetHeaderList.h"

// A chain of proxies is short: of each header at most this many elements are looked at, from
// the right, and a header whose values are longer than ForwardedValueLimit together is not
// read at all.
inline constexpr std::size_t ForwardedHopLimit = 16;
inline constexpr std::size_t ForwardedValueLimit = 4096;

// What one header says: nothing (it is absent), a client, or something that cannot be used
// (malformed, too long, an obfuscated or "unknown" node where the client should stand).
enum class TNetForwardedVerdict { Absent, Client, Unusable };

struct TNetForwarded {
    TNetForwardedVerdict Verdict = TNetForwardedVerdict::Absent;
    TIPAddress Client; // when Verdict is Client
};

// One node of a forwarding header: "192.0.2.7", "192.0.2.7:4711", "[2001:db8::7]" or
// "[2001:db8::7]:4711"; a plain "2001:db8::7" only when ABareIPv6 (X-Forwarded-For writes it
// so, "Forwarded" brackets it). Nothing for any other text ("unknown", "_hidden", a name).
std::optional<TIPAddress> ParseForwardedNode(std::string_view AText, bool ABareIPv6);
// The node of the "for" parameter of one "Forwarded" element ("for=192.0.2.7;proto=https",
// quoted values unquoted); nothing when the element has no such parameter, has it twice, is
// malformed or names no address.
std::optional<TIPAddress> ForwardedForOf(std::string_view AElement);

// Each proxy appends the address it was reached from, so the elements are read from the right:
// past those in ATrusted, the first that is not names the client; when all are trusted, the
// leftmost does. An element that is no address where the client is looked for makes the
// header Unusable, as do more than ForwardedHopLimit trusted elements and a header too long
// to read. Several lines of a header count as one list, in their order.
TNetForwarded ClientOfXForwardedFor(const TNetHeaderList& AHeaders,
                                    std::span<const TIPRange> ATrusted);
TNetForwarded ClientOfForwarded(const TNetHeaderList& AHeaders, std::span<const TIPRange> ATrusted);

// The header a trusted proxy writes. The other one reaches the server as the client sent it, so
// it is never read: it could blank or choose the address the hit is recorded under.
enum class TNetForwardedHeader { XForwardedFor, Forwarded };

// The client that a request from a trusted proxy stands for, as AHeader names it; nothing when
// that header is absent or cannot be used. The other header is not looked at.
std::optional<TIPAddress> ForwardedClientOf(const TNetHeaderList& AHeaders,
                                            std::span<const TIPRange> ATrusted,
                                            TNetForwardedHeader AHeader);
