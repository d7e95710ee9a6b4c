// A TLS client on 127.0.0.1 for end-to-end tests: chosen protocol versions, ALPN offers and
// session resumption; it does not check the server's certificate, only reports it. Owned by one
// thread; every wait is bounded (10 s).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackClient.h"

// An earlier session, to be resumed.
struct TTLSTestSession;

struct TTLSClientOptions {
    int MinVersion = 0; // TLS1_x_VERSION; 0: the library's own bounds
    int MaxVersion = 0;
    // Allows the old versions and ciphers (a client of the past).
    bool Legacy = false;
    std::vector<std::string> Protocols; // ALPN names offered, in order
    std::shared_ptr<TTLSTestSession> Resume;
};

class TTLSTestClient {
public:
    TTLSTestClient();
    ~TTLSTestClient();
    TTLSTestClient(const TTLSTestClient&) = delete;
    TTLSTestClient& operator=(const TTLSTestClient&) = delete;

    // Connects and runs the handshake; false with Error() telling why.
    bool Connect(int APort, const TTLSClientOptions& AOptions = {});
    bool Send(const std::string& ABytes);
    // Reads until the server closes (in order or not) or 10 s pass.
    std::string ReadUntilClose();

    std::string Error() const { return FError; }
    std::string Version() const;    // "TLSv1.3"
    std::string Protocol() const;   // the ALPN name the server chose, or empty
    std::string PeerSerial() const; // upper-case hexadecimal
    bool Resumed() const;
    // Whether the server ended the channel with its close alert (after ReadUntilClose).
    bool ClosedInOrder() const { return FClosedInOrder; }
    // The session to resume later (after ReadUntilClose, when tickets have come).
    std::shared_ptr<TTLSTestSession> Session() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    LoopbackClient FSocket;
    std::string FError;
    bool FClosedInOrder = false;
};

// One request over TLS: connects, sends, reads the answer until the server closes; empty when
// the handshake fails.
std::string TLSExchange(int APort, const std::string& ARequest,
                        const TTLSClientOptions& AOptions = {});

// The bytes of a real ClientHello (TLS 1.3 and 1.2 offered), as a client's first flight.
std::string ClientHelloBytes();
// The records of a client's first handshake message as an attacker makes them: a hello's header
// announcing ALength bytes, then AFill bytes of it, in records of at most ARecord bytes.
std::string HandshakeRecords(size_t ALength, size_t AFill, size_t ARecord = 16384);
