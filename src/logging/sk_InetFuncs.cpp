#include "logging/sk_InetFuncs.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>

#include "base/DateTime.h"
#include "base/IPAddress.h"
#include "logging/DecimalText.h"

namespace {

// getnameinfo keeps its result in our buffer, so lookups on many threads do not collide.
std::string ReverseLookup(const sockaddr* AAddress, socklen_t ALength) {
    char host[NI_MAXHOST] = {};
    int rc = getnameinfo(AAddress, ALength, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    return rc == 0 ? std::string(host) : std::string();
}

} // namespace

std::string HostNameOf(const std::string& AAddress) {
    const std::optional<TIPAddress> parsed = ParseIPAddress(AAddress);
    if (parsed && !parsed->IsV4()) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        std::copy(parsed->Bytes.begin(), parsed->Bytes.end(), address.sin6_addr.s6_addr);
        return ReverseLookup(reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (parsed) // IPv4, also when written IPv4-mapped
        std::copy(parsed->Bytes.end() - 4, parsed->Bytes.end(),
                  reinterpret_cast<std::uint8_t*>(&address.sin_addr));
    else // inet_addr as the dotted-address conversion: a text that is no address becomes the
         // all-ones address and is looked up as such (it normally has no entry).
        address.sin_addr.s_addr = inet_addr(AAddress.c_str());
    return ReverseLookup(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::string ShortTimeStamp(TDateTime ATime) {
    std::string text;
    AppendTimeOfDay(text, DecodeDateTime(ATime));
    return text;
}

void AppendLongTimeStamp(std::string& AText, TDateTime ATime) {
    TDateTimeParts p = DecodeDateTime(ATime);
    AppendDigits(AText, p.Year, 4);
    AText += '/';
    AppendDigits(AText, p.Month, 2);
    AText += '/';
    AppendDigits(AText, p.Day, 2);
    AText += ' ';
    AppendTimeOfDay(AText, p);
}

std::string LongTimeStamp(TDateTime ATime) {
    std::string text;
    AppendLongTimeStamp(text, ATime);
    return text;
}
