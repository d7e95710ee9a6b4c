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
    size_t HandshakeLimit() const override { return FMaxHandshakeInput; }
    size_t MemoryHeld() const override;

    std::string_view Protocol() const override;
    // After the handshake: the application protocol agreed on (empty when none) and whether an
    // earlier session was resumed.
    std::string ApplicationProtocol() const;
    bool Resumed() const;

private:
    // Reads the header of the client's first handshake message (type and length) out of the
    // records in ABytes, before OpenSSL sees them: OpenSSL reserves the length a header
    // announces as soon as it has it. False when the message announces more than the bound.
    bool HelloFits(const char* ABytes, size_t ACount);
    // The state after an OpenSSL call that returned AResult.
    TState StateAfter(int AResult);
    TState Fail(const std::string& AText, TState AState = TState::Failed);

    ssl_st* FSSL;
    bio_st* FInput;  // owned by FSSL: what the client sent
    bio_st* FOutput; // owned by FSSL: what goes to the client
    size_t FMaxHandshakeInput;
    size_t FHandshakeInput = 0;
    // The first message's header as it comes in, record by record.
    unsigned char FRecordHeader[5] = {};
    size_t FRecordHeaderHave = 0;
    size_t FRecordLeft = 0; // bytes of the current record's content still to come
    unsigned char FHelloHeader[4] = {};
    size_t FHelloHeaderHave = 0;
    bool FHelloRead = false; // the header is read, or the records are not ours to judge
    size_t FHelloSize = 0;   // what the header announces
    bool FReady = false;
    bool FFailed = false;
    TState FFailState = TState::Failed; // or TooLarge: how the session failed
    std::string FFailure;
};
