#include "tls/TNetTLSSession.h"

#include <algorithm>
#include <climits>
#include <new>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

constexpr unsigned char HandshakeRecordType = 22;
constexpr size_t MaxRecordContent = 16 * 1024; // of a record that is not encrypted
// What a session holds, as measured with OpenSSL 3 and rounded up: its state and memory BIOs
// alone; once the handshake is done (keys, the session, what the buffers keep when released);
// the buffer a record is read into; the least room kept for a handshake message.
constexpr size_t SessionCost = 12 * 1024;
constexpr size_t EstablishedCost = 44 * 1024;
constexpr size_t RecordCost = 18 * 1024;
constexpr size_t MessageCost = 16 * 1024;

// The reason of the thread's latest OpenSSL error ("wrong version number"), or AFallback; the
// thread's error queue is left empty, as the next call on any session of the thread needs it.
std::string TakeErrorReason(const char* AFallback) {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : AFallback;
}

} // namespace

TNetTLSSession::TNetTLSSession(ssl_ctx_st* AContext, size_t AMaxHandshakeInput)
    : FSSL(SSL_new(AContext)), FInput(BIO_new(BIO_s_mem())), FOutput(BIO_new(BIO_s_mem())),
      FMaxHandshakeInput(AMaxHandshakeInput) {
    if (FSSL == nullptr || FInput == nullptr || FOutput == nullptr) {
        BIO_free(FInput);
        BIO_free(FOutput);
        SSL_free(FSSL);
        ERR_clear_error();
        throw std::bad_alloc();
    }
    // An empty buffer means "more to come", not the end of the stream.
    BIO_set_mem_eof_return(FInput, -1);
    BIO_set_mem_eof_return(FOutput, -1);
    SSL_set_bio(FSSL, FInput, FOutput);
    SSL_set_accept_state(FSSL);
}

TNetTLSSession::~TNetTLSSession() {
    SSL_free(FSSL);
}

void TNetTLSSession::PutReceived(const char* ABytes, size_t ACount) {
    if (FFailed || ACount == 0)
        return;
    if (!FReady) {
        // What waits for a handshake that never ends stays bounded, and so does what the
        // library reserves for it.
        FHandshakeInput += ACount;
        if (FHandshakeInput > FMaxHandshakeInput) {
            Fail("handshake too long", TState::TooLarge);
            return;
        }
        if (!FHelloRead && !HelloFits(ABytes, ACount)) {
            Fail("handshake too large", TState::TooLarge);
            return;
        }
    }
    for (size_t done = 0; done < ACount;) {
        const int piece = static_cast<int>(std::min<size_t>(ACount - done, INT_MAX));
        if (BIO_write(FInput, ABytes + done, piece) != piece) {
            Fail(TakeErrorReason("out of memory"));
            return;
        }
        done += static_cast<size_t>(piece);
    }
}

bool TNetTLSSession::HelloFits(const char* ABytes, size_t ACount) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(ABytes);
    for (size_t at = 0; at < ACount && !FHelloRead;) {
        if (FRecordLeft == 0) { // a record header: type, version, length
            FRecordHeader[FRecordHeaderHave++] = bytes[at++];
            if (FRecordHeaderHave < sizeof FRecordHeader)
                continue;
            FRecordHeaderHave = 0;
            FRecordLeft = static_cast<size_t>(FRecordHeader[3]) << 8 | FRecordHeader[4];
            // Anything but a handshake record the library would read on is the library's to
            // refuse, at its header, before it reserves anything.
            FHelloRead = FRecordHeader[0] != HandshakeRecordType || FRecordHeader[1] != 3 ||
                         FRecordLeft == 0 || FRecordLeft > MaxRecordContent;
            continue;
        }
        const size_t take =
            std::min({FRecordLeft, ACount - at, sizeof FHelloHeader - FHelloHeaderHave});
        std::copy(bytes + at, bytes + at + take, FHelloHeader + FHelloHeaderHave);
        FHelloHeaderHave += take;
        FRecordLeft -= take;
        at += take;
        if (FHelloHeaderHave == sizeof FHelloHeader) { // message type, then 3 bytes of length
            FHelloRead = true;
            FHelloSize = static_cast<size_t>(FHelloHeader[1]) << 16 |
                         static_cast<size_t>(FHelloHeader[2]) << 8 | FHelloHeader[3];
        }
    }
    return FHelloSize <= FMaxHandshakeInput;
}

size_t TNetTLSSession::MemoryHeld() const {
    const size_t pending = BIO_ctrl_pending(FInput) + BIO_ctrl_pending(FOutput);
    if (FReady)
        return EstablishedCost + pending;
    // During the handshake: the bytes received (waiting in the input or copied on), the record
    // being read, and the first message as its header announced it, unless it was refused.
    const size_t message = FHelloSize <= FMaxHandshakeInput ? FHelloSize : 0;
    return SessionCost + RecordCost + std::max(message, MessageCost) + FHandshakeInput + pending;
}

TNetSecureSession::TState TNetTLSSession::Handshake() {
    if (FFailed)
        return FFailState;
    if (FReady)
        return TState::Ready;
    ERR_clear_error();
    const int result = SSL_do_handshake(FSSL);
    if (result == 1) {
        FReady = true;
        return TState::Ready;
    }
    return StateAfter(result);
}

int TNetTLSSession::Decrypt(char* AInto, int ASize, TState& AState) {
    if (FFailed || !FReady || ASize <= 0) {
        AState = FFailed ? FFailState : FReady ? TState::Ready : TState::WantInput;
        return 0;
    }
    ERR_clear_error();
    const int result = SSL_read(FSSL, AInto, ASize);
    if (result > 0) {
        AState = TState::Ready;
        return result;
    }
    AState = StateAfter(result);
    return 0;
}

bool TNetTLSSession::Encrypt(const char* ABytes, size_t ACount) {
    if (FFailed || !FReady)
        return false;
    // The output is memory: each write takes all it is given.
    for (size_t done = 0; done < ACount;) {
        const int piece = static_cast<int>(std::min<size_t>(ACount - done, INT_MAX));
        ERR_clear_error();
        const int result = SSL_write(FSSL, ABytes + done, piece);
        if (result <= 0) {
            StateAfter(result);
            FFailed = true;
            return false;
        }
        done += static_cast<size_t>(result);
    }
    return true;
}

void TNetTLSSession::Close() {
    if (FFailed || !FReady)
        return;
    ERR_clear_error();
    (void)SSL_shutdown(FSSL); // the close alert goes onto the output; the client's is not awaited
    ERR_clear_error();
}

void TNetTLSSession::TakeOutput(TNetBuffer& AInto) {
    const size_t pending = BIO_ctrl_pending(FOutput);
    if (pending == 0)
        return;
    const size_t before = AInto.Size();
    char* into = AInto.Extend(pending);
    const int taken = BIO_read(FOutput, into, static_cast<int>(std::min<size_t>(pending, INT_MAX)));
    AInto.SetSize(before + static_cast<size_t>(std::max(taken, 0)));
}

std::string_view TNetTLSSession::Protocol() const {
    // OpenSSL names the versions with constant texts.
    return FReady ? std::string_view(SSL_get_version(FSSL)) : std::string_view();
}

std::string TNetTLSSession::ApplicationProtocol() const {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(FSSL, &name, &length);
    return name != nullptr ? std::string(reinterpret_cast<const char*>(name), length)
                           : std::string();
}

bool TNetTLSSession::Resumed() const {
    return SSL_session_reused(FSSL) == 1;
}

TNetSecureSession::TState TNetTLSSession::StateAfter(int AResult) {
    switch (SSL_get_error(FSSL, AResult)) {
    case SSL_ERROR_WANT_READ:
        return TState::WantInput;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        return TState::Closed;
    default:
        return Fail(TakeErrorReason("connection broken"));
    }
}

TNetSecureSession::TState TNetTLSSession::Fail(const std::string& AText, TState AState) {
    if (!FFailed) {
        FFailed = true;
        FFailState = AState;
        FFailure = AText;
    }
    return FFailState;
}
