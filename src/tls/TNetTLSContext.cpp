#include "tls/TNetTLSContext.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "base/RegularFile.h"
#include "tls/TNetTLSSession.h"

namespace {

// A certificate chain or key file is a few KiB; anything far larger is no such file.
constexpr std::uint64_t MaxPemFileSize = 1024 * 1024;
// Sessions a client may resume by their identity (TLS 1.2 without tickets); each takes about a
// KiB. Tickets need no room on the server.
constexpr long SessionCacheSize = 1024;
const unsigned char SessionContext[] = "sk_KAV";
// The one application protocol spoken: HTTP/1.1, in the wire form of the ALPN extension.
const unsigned char Http11Protocol[] = "\x08http/1.1";
constexpr unsigned char HandshakeRecord = 0x16;

template <typename T, void (*Free)(T*)> struct TFreeWith {
    void operator()(T* AObject) const { Free(AObject); }
};
using TBioPtr = std::unique_ptr<BIO, TFreeWith<BIO, BIO_free_all>>;
using TX509Ptr = std::unique_ptr<X509, TFreeWith<X509, X509_free>>;
using TKeyPtr = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY, EVP_PKEY_free>>;
using TContextPtr = std::unique_ptr<SSL_CTX, TFreeWith<SSL_CTX, SSL_CTX_free>>;
using TNamesPtr = std::unique_ptr<GENERAL_NAMES, TFreeWith<GENERAL_NAMES, GENERAL_NAMES_free>>;

// Why the latest OpenSSL call of this thread failed; the error queue is emptied.
std::string OpenSSLReason(const char* AFallback) {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : AFallback;
}

// A key is never asked for a passphrase: a service has nobody to type it.
int NoPassphrase(char*, int, int, void*) {
    return 0;
}

// The whole file in memory, or nothing with AError set (why it cannot be read). AMode, when
// given, receives the file's permission bits.
TBioPtr ReadPemFile(const std::string& APath, std::string& AError, mode_t* AMode = nullptr) {
    std::string text;
    TRegularFile file(APath, MaxPemFileSize);
    if (AMode)
        *AMode = file.Mode();
    if (!file.ReadAll(text)) {
        AError = file.Problem();
        return nullptr;
    }
    AError.clear();
    TBioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || BIO_write(bio.get(), text.data(), static_cast<int>(text.size())) !=
                    static_cast<int>(text.size())) {
        AError = OpenSSLReason("out of memory");
        return nullptr;
    }
    return bio;
}

std::string Described(const char* AWhat, const std::string& AFile, const std::string& AReason) {
    return std::string(AWhat) + " \"" + AFile + "\": " + AReason;
}

std::string TextOf(const ASN1_STRING* AText) {
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, AText);
    if (length < 0)
        return {};
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

std::string AddressText(const ASN1_OCTET_STRING* AAddress) {
    const unsigned char* bytes = ASN1_STRING_get0_data(AAddress);
    const int length = ASN1_STRING_length(AAddress);
    std::string text;
    if (length == 4) {
        for (int i = 0; i < 4; ++i)
            text += (i > 0 ? "." : "") + std::to_string(bytes[i]);
    } else if (length == 16) {
        static const char* const Digits = "0123456789abcdef";
        for (int i = 0; i < 16; i += 2) {
            text += i > 0 ? ":" : "";
            for (int b : {bytes[i] >> 4, bytes[i] & 15, bytes[i + 1] >> 4, bytes[i + 1] & 15})
                text += Digits[b];
        }
    }
    return text;
}

void AddName(std::vector<std::string>& ANames, const std::string& AName) {
    if (!AName.empty() && std::find(ANames.begin(), ANames.end(), AName) == ANames.end())
        ANames.push_back(AName);
}

std::vector<std::string> NamesOf(X509* ACertificate) {
    std::vector<std::string> names;
    const X509_NAME* subject = X509_get_subject_name(ACertificate);
    const int common = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (common >= 0)
        AddName(names, TextOf(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, common))));
    TNamesPtr alternatives(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(ACertificate, NID_subject_alt_name, nullptr, nullptr)));
    for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_DNS)
            AddName(names, TextOf(name->d.dNSName));
        else if (name->type == GEN_IPADD)
            AddName(names, AddressText(name->d.iPAddress));
    }
    return names;
}

TNetTLSCertificateInfo InfoOf(X509* ACertificate) {
    TNetTLSCertificateInfo info;
    info.Names = NamesOf(ACertificate);
    struct tm end {};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(ACertificate), &end) == 1)
        info.NotAfter = std::chrono::system_clock::from_time_t(timegm(&end));
    if (BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get_serialNumber(ACertificate), nullptr)) {
        if (char* hex = BN_bn2hex(serial)) {
            info.Serial = hex;
            OPENSSL_free(hex);
        }
        BN_free(serial);
    }
    ERR_clear_error();
    return info;
}

// Takes HTTP/1.1 when the client offers it; otherwise the handshake goes on without a protocol
// named, and the client finds out what it gets from the answer.
int SelectProtocol(SSL*, const unsigned char** AOut, unsigned char* AOutLength,
                   const unsigned char* AOffered, unsigned int AOfferedLength, void*) {
    unsigned char* chosen = nullptr;
    if (AOfferedLength == 0 ||
        SSL_select_next_proto(&chosen, AOutLength, Http11Protocol, sizeof(Http11Protocol) - 1,
                              AOffered, AOfferedLength) != OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *AOut = chosen;
    return SSL_TLSEXT_ERR_OK;
}

TContextPtr NewServerContext() {
    TContextPtr context(SSL_CTX_new(TLS_server_method()));
    if (!context)
        return nullptr;
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A client may not make the server redo a handshake on one connection (costly, and no
    // request needs it).
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    // Buffers of idle connections go back to the heap.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_session_id_context(ctx, SessionContext, sizeof(SessionContext) - 1);
    SSL_CTX_sess_set_cache_size(ctx, SessionCacheSize);
    // One ticket per connection is enough for one request per connection.
    SSL_CTX_set_num_tickets(ctx, 1);
    SSL_CTX_set_alpn_select_cb(ctx, SelectProtocol, nullptr);
    SSL_CTX_set_default_passwd_cb(ctx, NoPassphrase);
    return context;
}

// The server's certificate, then the rest of the chain, into AContext.
bool UseChain(SSL_CTX* AContext, BIO* APem, const std::string& AFile, std::string& AError) {
    TX509Ptr leaf(PEM_read_bio_X509_AUX(APem, nullptr, NoPassphrase, nullptr));
    if (!leaf || SSL_CTX_use_certificate(AContext, leaf.get()) != 1) {
        AError = Described("certificate", AFile, OpenSSLReason("no certificate in the file"));
        return false;
    }
    while (X509* issuer = PEM_read_bio_X509(APem, nullptr, NoPassphrase, nullptr)) {
        if (SSL_CTX_add0_chain_cert(AContext, issuer) != 1) {
            X509_free(issuer);
            AError = Described("certificate", AFile, OpenSSLReason("chain not taken"));
            return false;
        }
    }
    ERR_clear_error(); // the end of the file reads as "no start line"
    return true;
}

bool UseKey(SSL_CTX* AContext, BIO* APem, const std::string& AFile, const std::string& ACertFile,
            std::string& AError) {
    TKeyPtr key(PEM_read_bio_PrivateKey(APem, nullptr, NoPassphrase, nullptr));
    if (!key && AFile == ACertFile) {
        ERR_clear_error();
        AError = "certificate \"" + AFile + "\" holds no key, and no key file is named";
        return false;
    }
    if (!key) {
        AError = Described("key", AFile, OpenSSLReason("no key in the file"));
        return false;
    }
    if (X509_check_private_key(SSL_CTX_get0_certificate(AContext), key.get()) != 1) {
        AError = Described("key", AFile,
                           "does not match the certificate \"" + ACertFile + "\" (" +
                               OpenSSLReason("key values mismatch") + ")");
        return false;
    }
    if (SSL_CTX_use_PrivateKey(AContext, key.get()) != 1) {
        AError = Described("key", AFile, OpenSSLReason("key not taken"));
        return false;
    }
    return true;
}

} // namespace

std::shared_ptr<const TNetTLSContext> TNetTLSContext::Load(const std::string& ACertFile,
                                                           const std::string& AKeyFile,
                                                           std::string& AError) {
    ERR_clear_error();
    const std::string keyFile = AKeyFile.empty() ? ACertFile : AKeyFile;
    std::string reason;
    TBioPtr chain = ReadPemFile(ACertFile, reason);
    if (!chain) {
        AError = Described("certificate", ACertFile, reason);
        return nullptr;
    }
    mode_t keyMode = 0;
    TBioPtr key = ReadPemFile(keyFile, reason, &keyMode);
    if (!key) {
        AError = Described("key", keyFile, reason);
        return nullptr;
    }
    TContextPtr context = NewServerContext();
    if (!context) {
        AError = Described("certificate", ACertFile, OpenSSLReason("out of memory"));
        return nullptr;
    }
    if (!UseChain(context.get(), chain.get(), ACertFile, AError) ||
        !UseKey(context.get(), key.get(), keyFile, ACertFile, AError))
        return nullptr;
    TNetTLSCertificateInfo info = InfoOf(SSL_CTX_get0_certificate(context.get()));
    auto loaded =
        std::shared_ptr<TNetTLSContext>(new TNetTLSContext(context.release(), std::move(info)));
    loaded->FKeyOpenToOthers = (keyMode & (S_IRGRP | S_IROTH)) != 0;
    return loaded;
}

TNetTLSPairInfo TNetTLSContext::Inspect(const std::string& ACertFile, const std::string& AKeyFile) {
    TNetTLSPairInfo pair;
    if (std::shared_ptr<const TNetTLSContext> context = Load(ACertFile, AKeyFile, pair.Problem)) {
        pair.CertificateRead = true;
        pair.Certificate = context->Certificate();
        return pair;
    }
    std::string ignored;
    if (TBioPtr pem = ReadPemFile(ACertFile, ignored)) {
        TX509Ptr leaf(PEM_read_bio_X509(pem.get(), nullptr, NoPassphrase, nullptr));
        if (leaf) {
            pair.CertificateRead = true;
            pair.Certificate = InfoOf(leaf.get());
        }
    }
    ERR_clear_error();
    return pair;
}

TNetTLSContext::TNetTLSContext(ssl_ctx_st* AContext, TNetTLSCertificateInfo ACertificate)
    : FContext(AContext), FCertificate(std::move(ACertificate)) {}

TNetTLSContext::~TNetTLSContext() {
    SSL_CTX_free(FContext);
}

bool TNetTLSContext::StartsHandshake(unsigned char AFirstByte) const {
    return AFirstByte == HandshakeRecord;
}

std::unique_ptr<TNetSecureSession> TNetTLSContext::NewSession() const {
    return std::make_unique<TNetTLSSession>(FContext, MaxHandshakeInput);
}
