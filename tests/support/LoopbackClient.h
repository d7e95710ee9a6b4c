// A raw TCP client on 127.0.0.1 (or ::1) for end-to-end tests: writes bytes as given, reads
// until close. Owned by one thread; every wait is bounded by the timeout given.
#pragma once

#include <chrono>
#include <string>

class LoopbackClient {
public:
    LoopbackClient() = default;
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Connects to 127.0.0.1:APort, from AFromIP when given (another loopback address such as
    // 127.0.0.2 poses as another client); false when it cannot.
    bool Connect(int APort, const std::string& AFromIP = "");
    // Connects to the IPv6 loopback [::1]:APort; false when it cannot.
    bool Connect6(int APort);
    // Sends every byte; false on failure.
    bool Send(const std::string& ABytes);
    // Reads until the peer closes or the timeout passes; what arrived.
    std::string ReadUntilClose(std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
    // Reads what arrives within the timeout, at most AMax bytes (at least one byte if any came).
    std::string ReadSome(size_t AMax,
                         std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
    // True when the peer closed (read gives 0 or reset) within the timeout.
    bool WaitForClose(std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
    // Half-close of the sending direction.
    void ShutdownSend();
    // Close with RST instead of FIN (SO_LINGER 0).
    void Reset();
    void Close();
    int Fd() const { return FFd; }
    // The client's own port (the peer port the server sees), 0 when not connected.
    int LocalPort() const;

private:
    int FFd = -1;
};

// Connects, sends ARequest, reads the whole answer until the server closes.
std::string Exchange(int APort, const std::string& ARequest,
                     std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

// The same over IPv6, to [::1]:APort.
std::string Exchange6(int APort, const std::string& ARequest,
                      std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

// Whether this machine can make IPv6 sockets and has the IPv6 loopback ::1 (tests of IPv6
// skip with a message without it).
bool HasIPv6Loopback();

// A port that was free a moment ago (bound to port 0, then released).
int FreePort();
