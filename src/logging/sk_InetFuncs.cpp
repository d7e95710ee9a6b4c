#include "logging/sk_InetFuncs.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "base/DateTime.h"
#include "logging/DecimalText.h"

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
    std::string text;
    AppendTimeOfDay(text, DecodeDateTime(Now()));
    return text;
}

std::string LongTimeStamp() {
    TDateTimeParts p = DecodeDateTime(Now());
    std::string text;
    AppendDigits(text, p.Year, 4);
    text += '/';
    AppendDigits(text, p.Month, 2);
    text += '/';
    AppendDigits(text, p.Day, 2);
    text += ' ';
    AppendTimeOfDay(text, p);
    return text;
}
