// TNetTLSSession: the server side of one TLS connection, working on bytes in memory; the
// connection does the socket I/O (see TNetSecureSession). Used by one thread.
#pragma once

#include <cstddef>
#include <string>

#include "tcp/TNetSecureSession.h"

struct bio_st;
struct ssl_ctx_st;
struct ssl_st;

class TNetTLSSession : public TNetSecureSession {
public:
    // A session of AContext, waiting for the client's hello. At most AMaxHandshakeInput bytes
    // may come before the handshake is done.
    TNetTLSSession(ssl_ctx_st* AContext, size_t AMaxHandshakeInput);
    ~TNetTLSSession() override;
    TNetTLSSession(const TNetTLSSession&) = delete;
    TNetTLSSession& operator=(const TNetTLSSession&) = delete;

    void PutReceived(const char* ABytes, size_t ACount) override;
    TState Handshake() override;
    int Decrypt(char* AInto, int ASize, TState& AState) override;
    bool Encrypt(const char* ABytes, size_t ACount) override;
    void Close() override;
    void TakeOutput(TNetBuffer& AInto) override;
    std::string FailureText() const override { return FFailure; }

    // After the handshake: the protocol version ("TLSv1.3"), the application protocol agreed
    // on (empty when none) and whether an earlier session was resumed.
    std::string Version() const;
    std::string ApplicationProtocol() const;
    bool Resumed() const;

private:
    // The state after an OpenSSL call that returned AResult.
    TState StateAfter(int AResult);
    TState Fail(const std::string& AText);

    ssl_st* FSSL;
    bio_st* FInput;  // owned by FSSL: what the client sent
    bio_st* FOutput; // owned by FSSL: what goes to the client
    size_t FMaxHandshakeInput;
    size_t FHandshakeInput = 0;
    bool FReady = false;
    bool FFailed = false;
    std::string FFailure;
};
