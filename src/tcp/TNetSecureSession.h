// A connection's secure channel, kept apart from sockets: the connection puts in what it receives
// and sends what the session gives out, so the transport's waits, deadlines and limits hold for
// it as for plain bytes. TNetSecureSession is used by one thread (the connection's peer thread);
// a TNetSecureAcceptor makes sessions on any thread at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "tcp/TNetBuffer.h"

class TNetSecureSession {
public:
    // What the session can do next.
    enum class TState {
        Ready,     // the handshake is done; decrypted bytes may follow
        WantInput, // it needs more bytes from the peer
        Closed,    // the peer ended the channel in order
        Failed,    // the peer broke the protocol; FailureText says how
        TooLarge   // the peer sent or announced more than HandshakeLimit before the handshake
                   // ended; the session holds no more of it and has nothing to send
    };

    virtual ~TNetSecureSession() = default;

    // Bytes received from the peer, in order.
    virtual void PutReceived(const char* ABytes, size_t ACount) = 0;
    // Moves the handshake on with what has been put: Ready once it is complete.
    virtual TState Handshake() = 0;
    // Up to ASize decrypted bytes into AInto; 0 with the state when there are none yet.
    virtual int Decrypt(char* AInto, int ASize, TState& AState) = 0;
    // Encrypts ACount bytes onto the output; false when the session has failed.
    virtual bool Encrypt(const char* ABytes, size_t ACount) = 0;
    // Puts the orderly end of the channel onto the output.
    virtual void Close() = 0;
    // Appends what is to be sent to the peer to AInto and forgets it.
    virtual void TakeOutput(TNetBuffer& AInto) = 0;
    // Why the session failed, for a person.
    virtual std::string FailureText() const = 0;
    // The most bytes the peer may send before the handshake ends.
    virtual size_t HandshakeLimit() const = 0;
    // The memory the session holds now, by its own reckoning (buffers, handshake bytes, its
    // own state); the connection charges it to its memory budget.
    virtual size_t MemoryHeld() const = 0;
    // Once the handshake is done, the protocol agreed on ("TLSv1.3"), in storage that lasts as
    // long as the program; empty before.
    virtual std::string_view Protocol() const { return {}; }
};

// Makes the session of a connection whose first byte starts the secure handshake.
class TNetSecureAcceptor {
public:
    virtual ~TNetSecureAcceptor() = default;

    // Whether a connection whose first byte is AFirstByte speaks the secure protocol.
    virtual bool StartsHandshake(unsigned char AFirstByte) const = 0;
    virtual std::unique_ptr<TNetSecureSession> NewSession() const = 0;
};
