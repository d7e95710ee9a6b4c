// TTLSCertificateWatch: keeps the server's TLS certificate and key in step with the settings and
// the files. It loads the pair the settings name, looks at the files at most once a minute and
// loads a renewed pair for new connections, and warns once a day of a certificate near its end;
// each step is one Messages line. Front end's thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "tcp/TNetSecureSession.h"

class TNetTLSContext;

// What tells that a file changed: device, inode, size and modification time.
struct TTLSFileStamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    timespec Modified{};
    bool operator==(const TTLSFileStamp& AOther) const;
};

class TTLSCertificateWatch {
public:
    using TSink = std::function<void(const std::string& AText)>;
    using TInstall = std::function<void(std::shared_ptr<const TNetSecureAcceptor> AAcceptor)>;

    // How often the files are looked at for a renewal.
    static constexpr std::chrono::seconds CheckInterval{60};
    // A certificate that ends within this time is warned of, once a day.
    static constexpr std::chrono::hours ExpiryWarning{14 * 24};
    static constexpr std::chrono::hours WarningInterval{24};

    // AMessages receives the Messages lines; AInstall hands the server what new connections
    // are to use (nothing: plain HTTP only).
    TTLSCertificateWatch(TSink AMessages, TInstall AInstall);
    ~TTLSCertificateWatch();

    // Loads the pair anew (the server starts): an empty certificate file means plain HTTP only;
    // a pair that cannot serve is told of and leaves plain HTTP only.
    void Apply(const std::string& ACertFile, const std::string& AKeyFile);
    // While the server runs, with the names the settings hold now: other names are loaded at
    // once; otherwise, once a minute, files that changed are loaded again. A pair that cannot
    // serve leaves the one in use (if any) in place.
    void Check(const std::string& ACertFile, const std::string& AKeyFile);

    // The pair in use; nothing while only plain HTTP is served.
    std::shared_ptr<const TNetTLSContext> Current() const { return FCurrent; }

private:
    using TStamp = TTLSFileStamp;
    using TTime = std::chrono::system_clock::time_point;

    // Loads the named pair; ARenewal: a pair in use stays when the new one cannot serve.
    void Load(bool ARenewal);
    void Install(std::shared_ptr<const TNetTLSContext> AContext);
    void WarnOfExpiry(TTime ANow);
    std::pair<TStamp, TStamp> Stamps() const;
    std::string KeyFile() const;

    TSink FMessages;
    TInstall FInstall;
    std::string FCertFile;
    std::string FKeyFile;
    std::shared_ptr<const TNetTLSContext> FCurrent;
    std::pair<TStamp, TStamp> FLoadedStamps; // of the files as last loaded, well or not
    TTime FLastLook{};
    TTime FLastWarning{};
    bool FWarned = false;
};

// The window's line about a certificate and key file: its names and expiry date, or why the
// pair cannot serve. Warning: it ends within TTLSCertificateWatch::ExpiryWarning of ANow, has
// ended, or cannot serve. Empty text when no certificate file is named. Any thread.
struct TTLSPairSummary {
    std::string Text;
    bool Warning = false;
};
TTLSPairSummary DescribeTLSPair(const std::string& ACertFile, const std::string& AKeyFile,
                                std::chrono::system_clock::time_point ANow);
