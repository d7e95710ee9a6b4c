// Peak memory of an HTTP server process while clients send requests far beyond its limits:
// a 10 MiB header line, a 10 MiB header block, a 1 GiB POST body with and without a length.
// The clients run in a child process, so VmHWM below is the server's alone.
// Usage: http_memory_bench   (prints one line per figure)
#include "http/TNetHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

long StatusKiB(const char* AField) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(AField, 0) == 0)
            return std::stol(line.substr(line.find(':') + 1));
    }
    return -1;
}

int ConnectTo(int APort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(APort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends AHead, then AFiller repeatedly until ATotal bytes went out or the server closed.
// The bytes sent before the server gave up.
long long Flood(int APort, const std::string& AHead, const std::string& AFiller, long long ATotal) {
    const int fd = ConnectTo(APort);
    if (fd < 0)
        return -1;
    long long sent = 0;
    std::string chunk = AHead;
    while (sent < ATotal) {
        const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
        chunk =
            n < static_cast<ssize_t>(chunk.size()) ? chunk.substr(static_cast<size_t>(n)) : AFiller;
    }
    ::close(fd);
    return sent;
}

void RunClients(int APort) {
    const std::string line(64 * 1024, 'h');
    std::string headerLines;
    for (int i = 0; i < 8; ++i)
        headerLines += "X-Fill: " + std::string(8000, 'v') + "\r\n";
    const std::string body(64 * 1024, 'b');
    const long long tenMiB = 10LL << 20, oneGiB = 1LL << 30;
    long long sent[4] = {};
    std::vector<std::thread> clients;
    clients.emplace_back(
        [&] { sent[0] = Flood(APort, "GET / HTTP/1.1\r\nX-Long: ", line, tenMiB); });
    clients.emplace_back(
        [&] { sent[1] = Flood(APort, "GET / HTTP/1.1\r\n", headerLines, tenMiB); });
    clients.emplace_back([&] {
        sent[2] =
            Flood(APort, "POST / HTTP/1.1\r\nContent-Length: 1073741824\r\n\r\n", body, oneGiB);
    });
    clients.emplace_back([&] { sent[3] = Flood(APort, "POST / HTTP/1.1\r\n\r\n", body, oneGiB); });
    for (auto& client : clients)
        client.join();
    std::printf("client bytes sent before the server closed: header line %lld, header block %lld, "
                "body with length %lld, body until close %lld\n",
                sent[0], sent[1], sent[2], sent[3]);
}

} // namespace

int main() {
    int ports[2];
    if (::pipe(ports) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) { // the clients, in their own process
        int port = 0;
        if (::read(ports[0], &port, sizeof(port)) != sizeof(port))
            _exit(1);
        RunClients(port);
        std::fflush(stdout);
        _exit(0);
    }
    TNetHTTPServer server;
    std::atomic<int> handled{0};
    server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        ++handled;
    };
    server.Bindings().AddBinding().SetIP("127.0.0.1");
    server.Bindings().Items(0).SetPort(0);
    server.SetActive(true);
    int port = server.Bindings().Items(0).Port();
    std::printf("server VmHWM before the clients: %ld KiB\n", StatusKiB("VmHWM"));
    const auto started = std::chrono::steady_clock::now();
    if (::write(ports[1], &port, sizeof(port)) != sizeof(port))
        return 1;
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    server.SetActive(false);
    std::printf(
        "server VmHWM after the clients: %ld KiB (VmRSS %ld KiB); handler calls %d; %.2f s\n",
        StatusKiB("VmHWM"), StatusKiB("VmRSS"), handled.load(), seconds);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && handled.load() == 0 ? 0 : 1;
}
