#include "logging/sk_InetFuncs.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "base/DateTime.h"

std::string HostNameOf(const std::string& AAddress) {
    // inet_addr as the dotted-address conversion: a text that is no address becomes the
    // all-ones address and is looked up as such (it normally has no entry).
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(AAddress.c_str());
    char host[NI_MAXHOST] = {};
    // getnameinfo keeps its result in our buffer, so lookups on many threads do not collide.
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                         sizeof host, nullptr, 0, NI_NAMEREQD);
    return rc == 0 ? std::string(host) : std::string();
}

std::string ShortTimeStamp() {
    TDateTimeParts p = DecodeDateTime(Now());
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", p.Hour, p.Minute, p.Second, p.MSec);
    return text;
}

std::string LongTimeStamp() {
    TDateTimeParts p = DecodeDateTime(Now());
    char text[96];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d:%03d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.MSec);
    return text;
}
