#include "tcp/TNetStackPosix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/IPAddress.h"
#include "tcp/NetExceptions.h"

namespace {

thread_local int GLastSocketError = 0;

// errno values whose Windows-sockets number is not 10000 plus the Linux number.
int TranslatedErrno(int AErrno) {
    switch (AErrno) {
    case EPERM:
        return 10013;
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
        return 10055;
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    default:
        return 0;
    }
}

// The system's number of an address family of the stack's interface.
int PlatformFamily(int AFamily) {
    return AFamily == NetFamilyInet6 ? AF_INET6 : AFamily;
}

// An address record of either family and its length.
struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = sizeof(sockaddr_storage);

    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&Storage); }
};

TSocketAddress MakeAddress(TNetStack& AStack, int AFamily, const std::string& AIP, int APort) {
    TSocketAddress result;
    const uint16_t port = AStack.ToNetShort(static_cast<uint16_t>(APort));
    if (AFamily == NetFamilyInet6) {
        auto& address = reinterpret_cast<sockaddr_in6&>(result.Storage);
        address.sin6_family = AF_INET6;
        address.sin6_port = port;
        if (!AIP.empty()) {
            const std::optional<TIPAddress> parsed = ParseIPAddress(AIP);
            if (!parsed)
                throw ENetException("'" + AIP + "' is not a valid IPv6 address");
            std::copy(parsed->Bytes.begin(), parsed->Bytes.end(), address.sin6_addr.s6_addr);
        }
        result.Length = sizeof(sockaddr_in6);
        return result;
    }
    auto& address = reinterpret_cast<sockaddr_in&>(result.Storage);
    address.sin_family = static_cast<sa_family_t>(PlatformFamily(AFamily));
    address.sin_port = port;
    if (!AIP.empty()) {
        TNetAddress bytes = AStack.TextToAddress(AIP);
        static_assert(sizeof(address.sin_addr) == sizeof(bytes));
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(&address.sin_addr));
    }
    result.Length = sizeof(sockaddr_in);
    return result;
}

// An IPv6 address reads as IPv4 text when it is IPv4-mapped: what a dual-stack socket says of
// an IPv4 client is the address that client has.
void ReadAddress(TNetStack& AStack, const sockaddr_storage& AAddress, int& AFamily,
                 std::string& AIP, int& APort) {
    if (AAddress.ss_family == AF_INET6) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(AAddress);
        TIPAddress bytes;
        std::copy(address.sin6_addr.s6_addr, address.sin6_addr.s6_addr + 16, bytes.Bytes.begin());
        AFamily = NetFamilyInet6;
        AIP = IPAddressText(bytes);
        APort = AStack.ToHostShort(address.sin6_port);
        return;
    }
    const auto& address = reinterpret_cast<const sockaddr_in&>(AAddress);
    TNetAddress bytes{};
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&address.sin_addr);
    std::copy(raw, raw + 4, bytes.begin());
    AFamily = address.sin_family;
    AIP = AStack.AddressToText(bytes);
    APort = AStack.ToHostShort(address.sin_port);
}

short PollEvents(bool ARead, bool AWrite, bool AError) {
    short events = 0;
    if (ARead)
        events |= POLLIN;
    if (AWrite)
        events |= POLLOUT;
    if (AError)
        events |= POLLPRI;
    return events;
}

// Which of a descriptor's wait lists it is ready for, as select() would say.
void ReadyFor(short ARevents, bool& ARead, bool& AWrite, bool& AError) {
    ARead = (ARevents & (POLLIN | POLLHUP | POLLERR)) != 0;
    AWrite = (ARevents & (POLLOUT | POLLHUP | POLLERR)) != 0;
    AError = (ARevents & POLLPRI) != 0;
}

// poll() with EINTR retried against the original deadline; ATimeout -1 waits without limit.
int PollRetrying(std::vector<pollfd>& AFds, int ATimeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeout < 0 ? 0 : ATimeout);
    for (;;) {
        int wait = ATimeout;
        if (ATimeout >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        int result = poll(AFds.data(), AFds.size(), wait);
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// Keeps in each list the descriptors ready for it; -1 when one of them is not open.
int CollectReady(const std::vector<pollfd>& AFds, std::vector<int>* ALists[3]) {
    for (const pollfd& fd : AFds)
        if (fd.revents & POLLNVAL) {
            GLastSocketError = 10038; // a closed descriptor: select() fails the same way
            return -1;
        }
    // Each list keeps its ready descriptors in place: the listener waits once per cycle and
    // should not pay an allocation for it.
    int ready = 0;
    size_t next = 0;
    for (int i = 0; i < 3; ++i) {
        if (ALists[i] == nullptr)
            continue;
        std::vector<int>& list = *ALists[i];
        size_t kept = 0;
        for (size_t k = 0; k < list.size(); ++k, ++next) {
            bool read = false, write = false, error = false;
            ReadyFor(AFds[next].revents, read, write, error);
            if ((i == 0 && read) || (i == 1 && write) || (i == 2 && error))
                list[kept++] = AFds[next].fd;
        }
        list.resize(kept);
        ready += static_cast<int>(kept);
    }
    return ready;
}

} // namespace

int SocketErrorOfErrno(int AErrno) {
    int code = TranslatedErrno(AErrno);
    if (code != 0)
        return code;
    // Below 35 Linux and BSD agree (EINTR 4, EBADF 9, EACCES 13, EINVAL 22, EMFILE 24, ...);
    // other numbers go out of the table's range so they cannot pose as one of its codes.
    return AErrno < 35 ? 10000 + AErrno : 20000 + AErrno;
}

std::unique_ptr<TNetStack> NewPlatformStack() {
    return std::make_unique<TNetStackPosix>();
}

int TNetStackPosix::Failed(int AResult) {
    GLastSocketError = SocketErrorOfErrno(errno);
    return AResult;
}

int TNetStackPosix::AcceptOn(int ASocket, std::string& AIP, int& APort) {
    TSocketAddress address;
    int socket;
    do {
        address.Length = sizeof(address.Storage);
        socket = accept4(ASocket, address.Raw(), &address.Length, SOCK_CLOEXEC);
    } while (socket == -1 && errno == EINTR);
    if (socket == -1)
        return Failed(-1);
    int family = 0;
    ReadAddress(*this, address.Storage, family, AIP, APort);
    return socket;
}

int TNetStackPosix::BindTo(int ASocket, int AFamily, const std::string& AIP, int APort) {
    TSocketAddress address = MakeAddress(*this, AFamily, AIP, APort);
    int result = bind(ASocket, address.Raw(), address.Length);
    return result == -1 ? Failed(-1) : result;
}

int TNetStackPosix::CloseDescriptor(int ASocket) {
    // Linux releases the descriptor even when close() reports EINTR; never retry.
    int result = close(ASocket);
    return result == -1 ? Failed(-1) : result;
}

uint16_t TNetStackPosix::ToNetShort(uint16_t AValue) {
    return htons(AValue);
}

int TNetStackPosix::ListenOn(int ASocket, int ABacklog) {
    // Listening sockets are only accepted from after a wait says they are ready; non-blocking,
    // an accept whose client has meanwhile gone away fails at once instead of blocking.
    int flags = fcntl(ASocket, F_GETFL);
    if (flags == -1 || fcntl(ASocket, F_SETFL, flags | O_NONBLOCK) == -1)
        return Failed(-1);
    int result = listen(ASocket, ABacklog);
    return result == -1 ? Failed(-1) : result;
}

uint16_t TNetStackPosix::ToHostShort(uint16_t AValue) {
    return ntohs(AValue);
}

int TNetStackPosix::ReceiveOn(int ASocket, void* ABuffer, int ALength, int AFlags) {
    int flags = AFlags & ~NetRecvDontWait;
    if (AFlags & NetRecvDontWait)
        flags |= MSG_DONTWAIT;
    ssize_t result;
    do {
        result = recv(ASocket, ABuffer, static_cast<size_t>(ALength), flags);
    } while (result == -1 && errno == EINTR);
    return result == -1 ? Failed(-1) : static_cast<int>(result);
}

int TNetStackPosix::WaitForSockets(std::vector<int>* ARead, std::vector<int>* AWrite,
                                   std::vector<int>* AError, int ATimeout) {
    std::vector<int>* lists[3] = {ARead, AWrite, AError};
    // Kept by the thread: a listener waits once per cycle for as long as it runs.
    thread_local std::vector<pollfd> fds;
    fds.clear();
    for (int i = 0; i < 3; ++i) {
        if (lists[i] == nullptr)
            continue;
        if (lists[i]->size() > static_cast<size_t>(MaxWaitSockets))
            throw ENetStackSetSizeExceeded();
        for (int socket : *lists[i])
            fds.push_back(pollfd{socket, PollEvents(i == 0, i == 1, i == 2), 0});
    }
    int result = PollRetrying(fds, ATimeout == WaitForever ? -1 : (ATimeout < 0 ? 0 : ATimeout));
    if (result == -1)
        return Failed(-1);
    return CollectReady(fds, lists);
}

int TNetStackPosix::SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) {
    int flags = (AFlags & ~NetSendDontWait) | MSG_NOSIGNAL;
    if (AFlags & NetSendDontWait)
        flags |= MSG_DONTWAIT;
    ssize_t result;
    do {
        result = send(ASocket, ABuffer, static_cast<size_t>(ALength), flags);
    } while (result == -1 && errno == EINTR);
    return result == -1 ? Failed(-1) : static_cast<int>(result);
}

int TNetStackPosix::SetSocketOption(int ASocket, int ALevel, int AOption, const void* AValue,
                                    int ALength) {
    int result = setsockopt(ASocket, ALevel, AOption, AValue, static_cast<socklen_t>(ALength));
    return result == -1 ? Failed(-1) : result;
}

int TNetStackPosix::DeferAccept(int ASocket, int AMilliseconds) {
#ifdef TCP_DEFER_ACCEPT
    // Whole seconds, rounded up; the kernel then counts them in handshake retransmissions.
    int seconds = AMilliseconds <= 0 ? 0 : (AMilliseconds + 999) / 1000;
    return SetSocketOption(ASocket, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof(seconds));
#else
    (void)ASocket;
    (void)AMilliseconds;
    return 0;
#endif
}

int TNetStackPosix::SetDualStack(int ASocket) {
    const int v6Only = 0;
    return SetSocketOption(ASocket, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof(v6Only));
}

int TNetStackPosix::NewSocket(int AFamily, int AType, int AProtocol) {
    int result = socket(PlatformFamily(AFamily), AType | SOCK_CLOEXEC, AProtocol);
    return result == -1 ? Failed(-1) : result;
}

int TNetStackPosix::ShutdownSocket(int ASocket, int AHow) {
    int result = shutdown(ASocket, AHow);
    return result == -1 ? Failed(-1) : result;
}

int TNetStackPosix::LastSocketError() {
    return GLastSocketError;
}

void TNetStackPosix::RemoteName(int ASocket, int& AFamily, std::string& AIP, int& APort) {
    TSocketAddress address;
    if (getpeername(ASocket, address.Raw(), &address.Length) == -1)
        CheckSocketResult(Failed(-1));
    ReadAddress(*this, address.Storage, AFamily, AIP, APort);
}

void TNetStackPosix::LocalName(int ASocket, int& AFamily, std::string& AIP, int& APort) {
    TSocketAddress address;
    if (getsockname(ASocket, address.Raw(), &address.Length) == -1)
        CheckSocketResult(Failed(-1));
    ReadAddress(*this, address.Storage, AFamily, AIP, APort);
}
