#include "tracking/TTLSCertificateWatch.h"

#include <cstdio>
#include <ctime>

#include "base/DateTime.h"
#include "logging/LogText.h"
#include "tls/TNetTLSContext.h"

namespace {

// "2027-01-31", the day in UTC, as certificates count their validity.
std::string DayText(std::chrono::system_clock::time_point ATime) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(ATime);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday);
    return text;
}

// The names are the certificate's words, not the operator's: escaped like a client's text, so
// a line end in a subject cannot forge a Messages line.
std::string NamesText(const TNetTLSCertificateInfo& ACertificate) {
    std::string text;
    for (const std::string& name : ACertificate.Names)
        text += (text.empty() ? "" : ", ") + LogField(name, TLogEscape::Text, MessageTextLimit);
    return text.empty() ? std::string("no names") : text;
}

// "for a.example, b.example, valid until 2027-01-31"
std::string Validity(const TNetTLSCertificateInfo& ACertificate) {
    return "for " + NamesText(ACertificate) + ", valid until " + DayText(ACertificate.NotAfter);
}

// "expires on 2026-11-20 (in 5 days)", "expired on 2026-11-01", or empty when the end is
// further away than the warning time.
std::string ExpiryText(const TNetTLSCertificateInfo& ACertificate,
                       std::chrono::system_clock::time_point ANow) {
    const auto left = ACertificate.NotAfter - ANow;
    if (left > TTLSCertificateWatch::ExpiryWarning)
        return {};
    const std::string day = DayText(ACertificate.NotAfter);
    if (left <= std::chrono::seconds(0))
        return "expired on " + day;
    // Whole days begun: a certificate of five more days expires "in 5 days".
    const auto days =
        (std::chrono::duration_cast<std::chrono::seconds>(left).count() + 86399) / 86400;
    return "expires on " + day +
           (days == 1 ? std::string(" (within a day)") : " (in " + std::to_string(days) + " days)");
}

} // namespace

bool TTLSFileStamp::operator==(const TTLSFileStamp& AOther) const {
    return Device == AOther.Device && Inode == AOther.Inode && Size == AOther.Size &&
           Modified.tv_sec == AOther.Modified.tv_sec && Modified.tv_nsec == AOther.Modified.tv_nsec;
}

TTLSCertificateWatch::TTLSCertificateWatch(TSink AMessages, TInstall AInstall)
    : FMessages(std::move(AMessages)), FInstall(std::move(AInstall)) {}

TTLSCertificateWatch::~TTLSCertificateWatch() = default;

void TTLSCertificateWatch::Apply(const std::string& ACertFile, const std::string& AKeyFile) {
    FCertFile = ACertFile;
    FKeyFile = AKeyFile;
    Install(nullptr);
    if (!FCertFile.empty())
        Load(false);
}

void TTLSCertificateWatch::Check(const std::string& ACertFile, const std::string& AKeyFile) {
    if (ACertFile != FCertFile || AKeyFile != FKeyFile) {
        FCertFile = ACertFile;
        FKeyFile = AKeyFile;
        if (FCertFile.empty()) {
            Install(nullptr);
            FMessages("HTTPS is off: no certificate file is set. Plain HTTP is served.");
        } else {
            Load(true);
        }
        return;
    }
    const TTime now = ClockNow();
    // A clock set back counts as due, so the look is never put off for long.
    if (FCertFile.empty() || (now >= FLastLook && now - FLastLook < CheckInterval))
        return;
    FLastLook = now;
    if (Stamps() != FLoadedStamps)
        Load(true);
    else
        WarnOfExpiry(now);
}

void TTLSCertificateWatch::Load(bool ARenewal) {
    FLastLook = ClockNow();
    // Taken before reading: a file changed during the read is read again at the next look.
    FLoadedStamps = Stamps();
    std::string error;
    std::shared_ptr<const TNetTLSContext> context =
        TNetTLSContext::Load(FCertFile, FKeyFile, error);
    if (!context) {
        const char* outcome = !ARenewal  ? ". Plain HTTP is served."
                              : FCurrent ? ". The certificate loaded before stays in use."
                                         : ". HTTPS stays off.";
        FMessages(std::string(ARenewal ? "Cannot reload HTTPS: " : "Cannot use HTTPS: ") + error +
                  outcome);
        return;
    }
    Install(context);
    FMessages(std::string(ARenewal ? "HTTPS certificate reloaded for new connections: \""
                                   : "HTTPS with the certificate \"") +
              FCertFile + "\" " + Validity(context->Certificate()));
    if (context->KeyOpenToOthers())
        FMessages("HTTPS key \"" + KeyFile() +
                  "\" can be read by its group or by others: let only its owner read it "
                  "(chmod 600)");
    FWarned = false; // a new certificate is warned of at once when it too is near its end
    WarnOfExpiry(FLastLook);
}

void TTLSCertificateWatch::Install(std::shared_ptr<const TNetTLSContext> AContext) {
    FCurrent = std::move(AContext);
    FInstall(FCurrent);
}

void TTLSCertificateWatch::WarnOfExpiry(TTime ANow) {
    if (!FCurrent || (FWarned && ANow >= FLastWarning && ANow - FLastWarning < WarningInterval))
        return;
    const std::string expiry = ExpiryText(FCurrent->Certificate(), ANow);
    if (expiry.empty())
        return;
    FWarned = true;
    FLastWarning = ANow;
    FMessages("HTTPS certificate \"" + FCertFile + "\" " + expiry + ": renew it");
}

std::pair<TTLSCertificateWatch::TStamp, TTLSCertificateWatch::TStamp>
TTLSCertificateWatch::Stamps() const {
    auto stampOf = [](const std::string& APath) {
        TStamp stamp;
        struct stat info {};
        if (::stat(APath.c_str(), &info) == 0)
            stamp = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
        return stamp;
    };
    return {stampOf(FCertFile), stampOf(KeyFile())};
}

std::string TTLSCertificateWatch::KeyFile() const {
    return FKeyFile.empty() ? FCertFile : FKeyFile;
}

TTLSPairSummary DescribeTLSPair(const std::string& ACertFile, const std::string& AKeyFile,
                                std::chrono::system_clock::time_point ANow) {
    TTLSPairSummary summary;
    if (ACertFile.empty())
        return summary;
    const TNetTLSPairInfo pair = TNetTLSContext::Inspect(ACertFile, AKeyFile);
    if (pair.CertificateRead) {
        const std::string expiry = ExpiryText(pair.Certificate, ANow);
        summary.Text =
            NamesText(pair.Certificate) + "; " +
            (expiry.empty() ? "valid until " + DayText(pair.Certificate.NotAfter) : expiry);
        summary.Warning = !expiry.empty();
    }
    if (!pair.Problem.empty()) {
        summary.Text += (summary.Text.empty() ? "" : "; ") + pair.Problem;
        summary.Warning = true;
    }
    return summary;
}
