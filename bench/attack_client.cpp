// Hostile clients and a probe for bench/connection_limits.sh. One mode per run:
//   attack_client probe PORT COUNT GAP_MS       COUNT requests from 127.0.0.1, GAP_MS apart;
//                                                prints how many were answered within 1 s
//   attack_client idle PORT FROM COUNT SECONDS   COUNT connections from each address of FROM
//                                                that send nothing
//   attack_client trickle PORT FROM COUNT SECONDS  ... that send one byte of a request every 5 s
//   attack_client reopen PORT FROM COUNT SECONDS   ... that send half a request and are opened
//                                                again whenever the server closes them
//   attack_client headers PORT FROM COUNT SECONDS BYTES   ... that send BYTES of header lines
//                                                and hold them (no end of the header)
//   attack_client bodies PORT FROM COUNT SECONDS BYTES    ... that send a POST announcing BYTES
//                                                of body and all of it but the last byte
//   attack_client posts PORT FROM COUNT SECONDS BYTES     ... that send a whole POST of BYTES
//                                                at once and read the answer
//   attack_client hello PORT FROM COUNT SECONDS BYTES ANNOUNCED  ... that send the records of a
//                                                TLS hello whose header announces ANNOUNCED
//                                                bytes, with BYTES of it, and hold them
// FROM is one address (127.0.0.2) or a range (127.0.0.2-127.0.0.51). Every attack prints what
// happened to its connections when its time is up. Single-threaded, non-blocking sockets.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TConnection {
    int Fd = -1;
    std::string From;
    std::string Pending; // bytes still to send
    bool Closed = false;
    bool Answered = false;
};

int Open(int APort, const std::string& AFrom, bool ABlocking) {
    const int fd =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (ABlocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, AFrom.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(APort));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0 ||
        (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0 &&
         errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::string> Addresses(const std::string& ARange) {
    const size_t dash = ARange.find('-');
    if (dash == std::string::npos)
        return {ARange};
    in_addr first{}, last{};
    ::inet_pton(AF_INET, ARange.substr(0, dash).c_str(), &first);
    ::inet_pton(AF_INET, ARange.substr(dash + 1).c_str(), &last);
    std::vector<std::string> all;
    for (uint32_t a = ntohl(first.s_addr); a <= ntohl(last.s_addr); ++a) {
        in_addr address{htonl(a)};
        all.push_back(inet_ntoa(address));
    }
    return all;
}

// Sends what is pending as far as the socket takes it; false when the server has closed.
bool Push(TConnection& AConnection) {
    while (!AConnection.Pending.empty()) {
        const ssize_t n = ::send(AConnection.Fd, AConnection.Pending.data(),
                                 AConnection.Pending.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == ENOTCONN))
            return true; // later (a connect may still be in progress)
        if (n <= 0)
            return false;
        AConnection.Pending.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// Reads what came; false once the server has closed (or reset) the connection.
bool Drain(TConnection& AConnection) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(AConnection.Fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0) {
            AConnection.Answered = true;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == ENOTCONN))
            return true;
        return false;
    }
}

// A request line and header lines of ABytes in all (line ends included), in lines of at most
// 8000 bytes, without the empty line that would end the header.
std::string HeaderBlock(size_t ABytes) {
    std::string lines;
    while (lines.size() + 12 < ABytes) {
        const size_t room = std::min<size_t>(8000, ABytes - lines.size()) - 10;
        lines += "X-Fill: " + std::string(room, 'v') + "\r\n";
    }
    return "GET / HTTP/1.1\r\n" + lines;
}

std::string PostHead(size_t ABodyBytes) {
    return "POST / HTTP/1.1\r\nHost: bench\r\nContent-Length: " + std::to_string(ABodyBytes) +
           "\r\n\r\n";
}

// The records of a TLS client's first handshake message: its header announcing AAnnounced
// bytes, then ABytes of it, in records of at most 16 KiB.
std::string HelloRecords(size_t ABytes, size_t AAnnounced) {
    std::string message = {1, static_cast<char>(AAnnounced >> 16),
                           static_cast<char>(AAnnounced >> 8), static_cast<char>(AAnnounced)};
    message += std::string(ABytes, 'h');
    std::string records;
    for (size_t at = 0; at < message.size(); at += 16384) {
        const std::string piece = message.substr(at, 16384);
        records += std::string("\x16\x03\x01", 3) + static_cast<char>(piece.size() >> 8) +
                   static_cast<char>(piece.size() & 0xff) + piece;
    }
    return records;
}

struct TAttack {
    std::string Mode;
    int Port = 0;
    std::vector<std::string> From;
    int PerAddress = 0;
    int Seconds = 0;
    size_t Bytes = 0;
    size_t Announced = 0;
};

std::string FirstBytes(const TAttack& AAttack) {
    if (AAttack.Mode == "headers")
        return HeaderBlock(AAttack.Bytes);
    if (AAttack.Mode == "bodies")
        return PostHead(AAttack.Bytes) + std::string(AAttack.Bytes - 1, 'b');
    if (AAttack.Mode == "posts")
        return PostHead(AAttack.Bytes) + std::string(AAttack.Bytes, 'b');
    if (AAttack.Mode == "reopen")
        return "GET / HTTP/1.1\r\n";
    if (AAttack.Mode == "hello")
        return HelloRecords(AAttack.Bytes, AAttack.Announced);
    return "";
}

int RunAttack(const TAttack& AAttack) {
    std::vector<TConnection> connections;
    const std::string first = FirstBytes(AAttack);
    int failedOpens = 0, closings = 0;
    for (int i = 0; i < AAttack.PerAddress; ++i)
        for (const std::string& from : AAttack.From) {
            TConnection c{Open(AAttack.Port, from, false), from, first};
            failedOpens += c.Fd < 0 ? 1 : 0;
            connections.push_back(c);
        }
    const std::string trickle = "GET / HTTP/1.1\r\nHost: bench\r\nUser-Agent: slow\r\n";
    size_t trickled = 0;
    auto nextByte = Clock::now();
    const auto end = Clock::now() + std::chrono::seconds(AAttack.Seconds);
    std::vector<pollfd> fds;
    std::vector<size_t> which;
    int answered = 0;
    while (Clock::now() < end) {
        if (AAttack.Mode == "trickle" && Clock::now() >= nextByte) {
            for (TConnection& c : connections)
                if (!c.Closed && c.Fd >= 0)
                    c.Pending += trickle[trickled % trickle.size()];
            ++trickled;
            nextByte += std::chrono::seconds(5);
        }
        fds.clear();
        which.clear();
        for (size_t i = 0; i < connections.size(); ++i) {
            const TConnection& c = connections[i];
            if (c.Closed || c.Fd < 0)
                continue;
            const short out = c.Pending.empty() ? 0 : POLLOUT;
            fds.push_back(pollfd{c.Fd, static_cast<short>(POLLIN | out), 0});
            which.push_back(i);
        }
        ::poll(fds.data(), fds.size(), 100);
        for (size_t k = 0; k < fds.size(); ++k) {
            TConnection& c = connections[which[k]];
            if (fds[k].revents == 0 || (Push(c) && Drain(c)))
                continue;
            ::close(c.Fd);
            c.Closed = true;
            ++closings;
            answered += c.Answered ? 1 : 0;
            if (AAttack.Mode == "reopen") {
                c = TConnection{Open(AAttack.Port, c.From, false), c.From, first};
                failedOpens += c.Fd < 0 ? 1 : 0;
            }
        }
    }
    int open = 0;
    for (TConnection& c : connections) {
        if (c.Fd >= 0 && !c.Closed) {
            ++open;
            ::close(c.Fd);
        }
    }
    std::printf("%s: %zu connections from %zu addresses; the server closed %d (%d of them "
                "answered), %d still open at the end, %d failed to open%s\n",
                AAttack.Mode.c_str(), connections.size(), AAttack.From.size(), closings, answered,
                open, failedOpens, AAttack.Mode == "reopen" ? " (each closed one reopened)" : "");
    return 0;
}

// One request from 127.0.0.1; its time in ms, or -1 when it was not answered within 1 s.
long Probe(int APort) {
    const auto started = Clock::now();
    const int fd = Open(APort, "127.0.0.1", true);
    if (fd < 0)
        return -1;
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    const std::string request = "GET /t.gif HTTP/1.1\r\nHost: bench\r\n\r\n";
    std::string answer;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && ms <= 1000 ? ms : -1;
}

int RunProbes(int APort, int ACount, int AGapMs) {
    int answered = 0;
    long slowest = 0;
    for (int i = 0; i < ACount; ++i) {
        const auto next = Clock::now() + std::chrono::milliseconds(AGapMs);
        const long ms = Probe(APort);
        answered += ms >= 0 ? 1 : 0;
        slowest = std::max(slowest, ms < 0 ? 1000L : ms);
        std::this_thread::sleep_until(next);
    }
    std::printf("probe: %d of %d answered within 1 s, slowest %ld ms\n", answered, ACount, slowest);
    return answered == ACount ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "probe")
        return RunProbes(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc < 6) {
        std::fprintf(stderr, "usage: see the head of bench/attack_client.cpp\n");
        return 2;
    }
    TAttack attack{argv[1],
                   std::atoi(argv[2]),
                   Addresses(argv[3]),
                   std::atoi(argv[4]),
                   std::atoi(argv[5]),
                   argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 0,
                   argc > 7 ? std::strtoul(argv[7], nullptr, 10) : 0};
    return RunAttack(attack);
}
