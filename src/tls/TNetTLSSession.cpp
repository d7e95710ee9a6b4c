#include "tls/TNetTLSSession.h"

#include <algorithm>
#include <climits>
#include <new>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

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
        // What waits for a handshake that never ends stays bounded.
        FHandshakeInput += ACount;
        if (FHandshakeInput > FMaxHandshakeInput) {
            Fail("handshake too long");
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

TNetSecureSession::TState TNetTLSSession::Handshake() {
    if (FFailed)
        return TState::Failed;
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
        AState = FFailed ? TState::Failed : FReady ? TState::Ready : TState::WantInput;
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

std::string TNetTLSSession::Version() const {
    return SSL_get_version(FSSL);
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

TNetSecureSession::TState TNetTLSSession::Fail(const std::string& AText) {
    FFailed = true;
    if (FFailure.empty())
        FFailure = AText;
    return TState::Failed;
}
