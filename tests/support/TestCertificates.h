// A certificate authority made at test time, the server certificates it signs and keys, all as
// PEM text (ECDSA P-256). Used by one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

// A certificate with its key, as a server would be given them.
struct TTestCertificate {
    std::string CertPem;  // the server's certificate alone
    std::string ChainPem; // the server's certificate, then the authority's
    std::string KeyPem;
};

class TTestCA {
public:
    TTestCA();
    ~TTestCA();
    TTestCA(const TTestCA&) = delete;
    TTestCA& operator=(const TTestCA&) = delete;

    // The authority's own certificate.
    std::string CertPem() const;
    // A server certificate for ANames (DNS names; dotted addresses become IP names; the first is
    // also the common name) with ASerial, valid from a day ago until AValidDays from now (a
    // negative number: ended that many days ago).
    TTestCertificate Issue(const std::vector<std::string>& ANames, long ASerial,
                           int AValidDays = 90) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// A key of its own, belonging to no certificate.
std::string NewKeyPem();
// The same kind of key, encrypted with a passphrase.
std::string EncryptedKeyPem(const std::string& APassphrase);
