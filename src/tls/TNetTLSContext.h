// TNetTLSContext: a certificate chain and its key, loaded for serving TLS 1.2 and 1.3 (ALPN
// "http/1.1", session resumption, OpenSSL's default security level), and the sessions of the
// connections that start a TLS handshake. Load and Inspect on any thread; a loaded context never
// changes, so every peer thread may make sessions with it at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tcp/TNetSecureSession.h"

struct ssl_ctx_st;

// What the server's certificate says of itself.
struct TNetTLSCertificateInfo {
    // The subject's common name, then the DNS names and addresses it is also valid for; each once.
    std::vector<std::string> Names;
    std::chrono::system_clock::time_point NotAfter{}; // the end of its validity
    std::string Serial;                               // upper-case hexadecimal
};

// A certificate and key file as the window shows them.
struct TNetTLSPairInfo {
    bool CertificateRead = false; // Certificate holds what the certificate file says
    TNetTLSCertificateInfo Certificate;
    std::string Problem; // why the pair cannot serve, as Load says it; empty when it can
};

class TNetTLSContext : public TNetSecureAcceptor {
public:
    // Bytes a client may send before its handshake is done; a client that sends more fails it.
    // A real client's first flight is a few KiB at most.
    static constexpr size_t MaxHandshakeInput = 32 * 1024;

    // Loads the chain of ACertFile (PEM: the server's certificate, then the certificates that
    // issued it) and the key of AKeyFile (PEM, not encrypted; an empty name: the key is in
    // ACertFile too). Nothing when a file cannot be read or holds nothing usable, or the key
    // does not belong to the certificate: AError then names the file and gives the reason.
    static std::shared_ptr<const TNetTLSContext>
    Load(const std::string& ACertFile, const std::string& AKeyFile, std::string& AError);
    // What the pair holds, also when it cannot serve (the certificate alone, when it reads).
    static TNetTLSPairInfo Inspect(const std::string& ACertFile, const std::string& AKeyFile);

    ~TNetTLSContext() override;
    TNetTLSContext(const TNetTLSContext&) = delete;
    TNetTLSContext& operator=(const TNetTLSContext&) = delete;

    const TNetTLSCertificateInfo& Certificate() const { return FCertificate; }
    // Whether the key file's group or others could read it when it was loaded.
    bool KeyOpenToOthers() const { return FKeyOpenToOthers; }

    // A TLS connection begins with a handshake record (content type 22).
    bool StartsHandshake(unsigned char AFirstByte) const override;
    std::unique_ptr<TNetSecureSession> NewSession() const override;

private:
    TNetTLSContext(ssl_ctx_st* AContext, TNetTLSCertificateInfo ACertificate);

    ssl_ctx_st* FContext; // owned; each session holds a reference of its own
    TNetTLSCertificateInfo FCertificate;
    bool FKeyOpenToOthers = false;
};
