#include "support/TLSTestClient.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

struct TTLSTestSession {
    explicit TTLSTestSession(SSL_SESSION* ASession) : Session(ASession) {}
    ~TTLSTestSession() { SSL_SESSION_free(Session); }
    SSL_SESSION* Session;
};

struct TTLSTestClient::TImpl {
    ~TImpl() {
        SSL_free(Connection);
        SSL_CTX_free(Context);
    }
    SSL_CTX* Context = nullptr;
    SSL* Connection = nullptr;
};

namespace {

std::string LastError(const char* AFallback) {
    const unsigned long code = ERR_peek_last_error();
    char text[256];
    if (code == 0)
        return AFallback;
    ERR_error_string_n(code, text, sizeof(text));
    ERR_clear_error();
    return text;
}

std::string WireList(const std::vector<std::string>& ANames) {
    std::string wire;
    for (const std::string& name : ANames)
        wire += static_cast<char>(name.size()) + name;
    return wire;
}

void BoundWaits(int AFd) {
    timeval limit{10, 0};
    setsockopt(AFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(AFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
}

SSL_CTX* NewClientContext(const TTLSClientOptions& AOptions) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (AOptions.Legacy) {
        SSL_CTX_set_security_level(context, 0);
        SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
    }
    if (AOptions.MinVersion != 0)
        SSL_CTX_set_min_proto_version(context, AOptions.MinVersion);
    if (AOptions.MaxVersion != 0)
        SSL_CTX_set_max_proto_version(context, AOptions.MaxVersion);
    if (!AOptions.Protocols.empty()) {
        const std::string wire = WireList(AOptions.Protocols);
        SSL_CTX_set_alpn_protos(context, reinterpret_cast<const unsigned char*>(wire.data()),
                                static_cast<unsigned int>(wire.size()));
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return context;
}

} // namespace

TTLSTestClient::TTLSTestClient() : FImpl(std::make_unique<TImpl>()) {}

TTLSTestClient::~TTLSTestClient() = default;

bool TTLSTestClient::Connect(int APort, const TTLSClientOptions& AOptions) {
    ERR_clear_error();
    if (!FSocket.Connect(APort)) {
        FError = "connect failed";
        return false;
    }
    BoundWaits(FSocket.Fd());
    FImpl->Context = NewClientContext(AOptions);
    FImpl->Connection = SSL_new(FImpl->Context);
    SSL_set_fd(FImpl->Connection, FSocket.Fd());
    SSL_set_tlsext_host_name(FImpl->Connection, "stats.test");
    if (AOptions.Resume)
        SSL_set_session(FImpl->Connection, AOptions.Resume->Session);
    if (SSL_connect(FImpl->Connection) != 1) {
        FError = LastError("handshake failed");
        return false;
    }
    return true;
}

bool TTLSTestClient::Send(const std::string& ABytes) {
    return SSL_write(FImpl->Connection, ABytes.data(), static_cast<int>(ABytes.size())) ==
           static_cast<int>(ABytes.size());
}

std::string TTLSTestClient::ReadUntilClose() {
    std::string received;
    char buffer[4096];
    for (;;) {
        const int got = SSL_read(FImpl->Connection, buffer, sizeof(buffer));
        if (got > 0) {
            received.append(buffer, static_cast<size_t>(got));
            continue;
        }
        FClosedInOrder = SSL_get_error(FImpl->Connection, got) == SSL_ERROR_ZERO_RETURN;
        ERR_clear_error();
        return received;
    }
}

std::string TTLSTestClient::Version() const {
    return SSL_get_version(FImpl->Connection);
}

std::string TTLSTestClient::Protocol() const {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(FImpl->Connection, &name, &length);
    return name ? std::string(reinterpret_cast<const char*>(name), length) : std::string();
}

std::string TTLSTestClient::PeerSerial() const {
    X509* peer = SSL_get1_peer_certificate(FImpl->Connection);
    if (peer == nullptr)
        return {};
    std::string serial;
    if (BIGNUM* number = ASN1_INTEGER_to_BN(X509_get_serialNumber(peer), nullptr)) {
        char* hex = BN_bn2hex(number);
        serial = hex;
        OPENSSL_free(hex);
        BN_free(number);
    }
    X509_free(peer);
    return serial;
}

bool TTLSTestClient::Resumed() const {
    return SSL_session_reused(FImpl->Connection) == 1;
}

std::shared_ptr<TTLSTestSession> TTLSTestClient::Session() const {
    SSL_SESSION* session = SSL_get1_session(FImpl->Connection);
    return session ? std::make_shared<TTLSTestSession>(session) : nullptr;
}

std::string TLSExchange(int APort, const std::string& ARequest, const TTLSClientOptions& AOptions) {
    TTLSTestClient client;
    if (!client.Connect(APort, AOptions) || !client.Send(ARequest))
        return {};
    return client.ReadUntilClose();
}

// A client's first flight, caught from a memory pair: the client writes its hello and waits.
std::string ClientHelloBytes() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(context);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    (void)SSL_do_handshake(ssl);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string hello(data, static_cast<size_t>(size));
    SSL_free(ssl);
    SSL_CTX_free(context);
    ERR_clear_error();
    return hello;
}

std::string HandshakeRecords(size_t ALength, size_t AFill, size_t ARecord) {
    std::string message = {1, static_cast<char>(ALength >> 16), static_cast<char>(ALength >> 8),
                           static_cast<char>(ALength)};
    message += std::string(AFill, 'x');
    std::string records;
    for (size_t at = 0; at < message.size(); at += ARecord) {
        const std::string piece = message.substr(at, ARecord);
        records += std::string("\x16\x03\x01", 3) + static_cast<char>(piece.size() >> 8) +
                   static_cast<char>(piece.size() & 0xff) + piece;
    }
    return records;
}
