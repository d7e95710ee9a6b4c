#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackClient::~LoopbackClient() {
    Close();
}

bool LoopbackClient::Connect(int APort, const std::string& AFromIP) {
    Close();
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0)
        return false;
    if (!AFromIP.empty()) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (::inet_pton(AF_INET, AFromIP.c_str(), &from.sin_addr) != 1 ||
            ::bind(FFd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
            Close();
            return false;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(APort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        Close();
        return false;
    }
    return true;
}

bool LoopbackClient::Connect6(int APort) {
    Close();
    FFd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0)
        return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(static_cast<uint16_t>(APort));
    addr.sin6_addr = in6addr_loopback;
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        Close();
        return false;
    }
    return true;
}

int LoopbackClient::LocalPort() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    if (FFd < 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(addr).sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
}

bool LoopbackClient::Send(const std::string& ABytes) {
    size_t done = 0;
    while (done < ABytes.size()) {
        ssize_t n = ::send(FFd, ABytes.data() + done, ABytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string LoopbackClient::ReadSome(size_t AMax, std::chrono::milliseconds ATimeout) {
    std::string result;
    if (FFd < 0)
        return result;
    pollfd pfd{FFd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(ATimeout.count())) <= 0)
        return result;
    result.resize(AMax);
    ssize_t n = ::recv(FFd, result.data(), AMax, 0);
    result.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return result;
}

std::string LoopbackClient::ReadUntilClose(std::chrono::milliseconds ATimeout) {
    std::string result;
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    char buffer[16384];
    while (FFd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{FFd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        ssize_t n = ::recv(FFd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.append(buffer, static_cast<size_t>(n));
    }
    return result;
}

bool LoopbackClient::WaitForClose(std::chrono::milliseconds ATimeout) {
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    char buffer[4096];
    while (FFd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{FFd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        ssize_t n = ::recv(FFd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
    }
    return true;
}

void LoopbackClient::ShutdownSend() {
    if (FFd >= 0)
        ::shutdown(FFd, SHUT_WR);
}

void LoopbackClient::Reset() {
    if (FFd < 0)
        return;
    linger lg{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    Close();
}

void LoopbackClient::Close() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

std::string Exchange(int APort, const std::string& ARequest, std::chrono::milliseconds ATimeout) {
    LoopbackClient client;
    if (!client.Connect(APort) || !client.Send(ARequest))
        return {};
    return client.ReadUntilClose(ATimeout);
}

std::string Exchange6(int APort, const std::string& ARequest, std::chrono::milliseconds ATimeout) {
    LoopbackClient client;
    if (!client.Connect6(APort) || !client.Send(ARequest))
        return {};
    return client.ReadUntilClose(ATimeout);
}

bool HasIPv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return bound;
}

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}
