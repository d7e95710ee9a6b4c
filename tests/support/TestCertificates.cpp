#include "support/TestCertificates.h"

#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace {

template <typename T, void (*Free)(T*)> struct TFreeWith {
    void operator()(T* AObject) const { Free(AObject); }
};
using TKeyPtr = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY, EVP_PKEY_free>>;
using TX509Ptr = std::unique_ptr<X509, TFreeWith<X509, X509_free>>;
using TBioPtr = std::unique_ptr<BIO, TFreeWith<BIO, BIO_free_all>>;

void Check(bool AOk, const char* AWhat) {
    if (!AOk)
        throw std::runtime_error(std::string("test certificate: ") + AWhat);
}

TKeyPtr NewKey() {
    TKeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    return key;
}

std::string TextOf(BIO* ABio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(ABio, &data);
    return std::string(data, static_cast<size_t>(size));
}

std::string PemOf(X509* ACertificate) {
    TBioPtr bio(BIO_new(BIO_s_mem()));
    Check(PEM_write_bio_X509(bio.get(), ACertificate) == 1, "certificate PEM");
    return TextOf(bio.get());
}

std::string PemOf(EVP_PKEY* AKey, const std::string& APassphrase = "") {
    TBioPtr bio(BIO_new(BIO_s_mem()));
    const EVP_CIPHER* cipher = APassphrase.empty() ? nullptr : EVP_aes_128_cbc();
    Check(PEM_write_bio_PrivateKey(bio.get(), AKey, cipher,
                                   reinterpret_cast<const unsigned char*>(APassphrase.data()),
                                   static_cast<int>(APassphrase.size()), nullptr, nullptr) == 1,
          "key PEM");
    return TextOf(bio.get());
}

void AddExtension(X509* ACertificate, X509* AIssuer, int ANid, const std::string& AValue) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, AIssuer, ACertificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue.c_str());
    Check(extension != nullptr, "extension");
    X509_add_ext(ACertificate, extension, -1);
    X509_EXTENSION_free(extension);
}

bool IsAddress(const std::string& AName) {
    return !AName.empty() && AName.find_first_not_of("0123456789.") == std::string::npos;
}

// A certificate of AKey for ACommonName, valid from AFromDays to AToDays (days from now).
TX509Ptr NewCertificate(EVP_PKEY* AKey, const std::string& ACommonName, long ASerial,
                        long AFromDays, long AToDays) {
    TX509Ptr certificate(X509_new());
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), ASerial);
    X509_gmtime_adj(X509_getm_notBefore(x), AFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(x), AToDays * 86400);
    X509_set_pubkey(x, AKey);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(ACommonName.c_str()), -1, -1,
                               0);
    return certificate;
}

} // namespace

struct TTestCA::TImpl {
    TKeyPtr Key;
    TX509Ptr Certificate;
};

TTestCA::TTestCA() : FImpl(std::make_unique<TImpl>()) {
    FImpl->Key = NewKey();
    FImpl->Certificate = NewCertificate(FImpl->Key.get(), "sk_KAV test CA", 1, -1, 365);
    X509* x = FImpl->Certificate.get();
    X509_set_issuer_name(x, X509_get_subject_name(x));
    AddExtension(x, x, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    Check(X509_sign(x, FImpl->Key.get(), EVP_sha256()) > 0, "CA signature");
}

TTestCA::~TTestCA() = default;

std::string TTestCA::CertPem() const {
    return PemOf(FImpl->Certificate.get());
}

TTestCertificate TTestCA::Issue(const std::vector<std::string>& ANames, long ASerial,
                                int AValidDays) const {
    Check(!ANames.empty(), "names");
    TKeyPtr key = NewKey();
    const long from = AValidDays < 0 ? AValidDays - 30 : -1;
    TX509Ptr certificate = NewCertificate(key.get(), ANames.front(), ASerial, from, AValidDays);
    X509* x = certificate.get();
    X509* issuer = FImpl->Certificate.get();
    X509_set_issuer_name(x, X509_get_subject_name(issuer));
    std::string alternatives;
    for (const std::string& name : ANames)
        alternatives += (alternatives.empty() ? "" : ",") +
                        std::string(IsAddress(name) ? "IP:" : "DNS:") + name;
    AddExtension(x, issuer, NID_subject_alt_name, alternatives);
    AddExtension(x, issuer, NID_ext_key_usage, "serverAuth");
    Check(X509_sign(x, FImpl->Key.get(), EVP_sha256()) > 0, "signature");
    TTestCertificate issued;
    issued.CertPem = PemOf(x);
    issued.ChainPem = issued.CertPem + CertPem();
    issued.KeyPem = PemOf(key.get());
    return issued;
}

std::string NewKeyPem() {
    return PemOf(NewKey().get());
}

std::string EncryptedKeyPem(const std::string& APassphrase) {
    return PemOf(NewKey().get(), APassphrase);
}
