// libFuzzer target: arbitrary bytes as the header lines of a request from a trusted proxy
// (X-Forwarded-For, Forwarded), as one forwarding node and "Forwarded" element, and as address
// literals and range lists. A client that is named must be an address that reads back the same.
// Single-threaded, as libFuzzer calls it.
#include "base/IPAddress.h"
#include "http/NetHTTPForwarded.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Proxies of the first byte's choosing: none, one address, a network of each family.
const std::vector<TIPRange>& TrustedOf(uint8_t AChoice) {
    static const std::vector<TIPRange> lists[] = {
        {},
        ParseIPRangeList("127.0.0.1"),
        ParseIPRangeList("10.0.0.0/8, 2001:db8::/32, ::1"),
        ParseIPRangeList("0.0.0.0/0, ::/0"),
    };
    return lists[AChoice % 4];
}

void RoundTrips(const std::optional<TIPAddress>& AAddress) {
    if (AAddress && ParseIPAddress(IPAddressText(*AAddress)) != AAddress)
        __builtin_trap();
}

TNetHeaderList HeadersOf(std::string_view ABytes) {
    TNetHeaderList headers;
    while (!ABytes.empty()) {
        const std::size_t end = ABytes.find('\n');
        headers.Add(std::string(ABytes.substr(0, end)));
        ABytes.remove_prefix(end == std::string_view::npos ? ABytes.size() : end + 1);
    }
    headers.Add("");
    return headers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0)
        return 0;
    const std::vector<TIPRange>& trusted = TrustedOf(AData[0]);
    const std::string_view bytes(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
    const TNetHeaderList headers = HeadersOf(bytes);
    RoundTrips(ForwardedClientOf(headers, trusted, TNetForwardedHeader::XForwardedFor));
    RoundTrips(ForwardedClientOf(headers, trusted, TNetForwardedHeader::Forwarded));
    const TNetForwarded x = ClientOfXForwardedFor(headers, trusted);
    const TNetForwarded f = ClientOfForwarded(headers, trusted);
    if (x.Verdict == TNetForwardedVerdict::Client)
        RoundTrips(x.Client);
    if (f.Verdict == TNetForwardedVerdict::Client)
        RoundTrips(f.Client);
    RoundTrips(ParseForwardedNode(bytes, true));
    RoundTrips(ParseForwardedNode(bytes, false));
    RoundTrips(ForwardedForOf(bytes));
    RoundTrips(ParseIPAddress(bytes));
    (void)CanonicalAddressText(bytes);
    std::vector<std::string> bad;
    for (const TIPRange& range : ParseIPRangeList(bytes, &bad))
        if (!range.Contains(range.First))
            __builtin_trap();
    return 0;
}
