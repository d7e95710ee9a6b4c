// The settings store: the settings record, the process-wide instance and its three files.
// GeneralConfigSnapshot on any thread; every other function on the window's thread only.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/IPAddress.h"
#include "config/TAddressIndex.h"

// A number's range, as the window's number field allows it.
struct TSettingRange {
    int32_t Min;
    int32_t Max;
};

// Ranges of the window's number fields. Numbers read from the settings file are clamped to
// them, except ServerPort: a port outside PortRange refuses the start instead.
inline constexpr TSettingRange PortRange{1, 65535};
inline constexpr TSettingRange HeaderNumberRange{0, 100000}; // max-age, Last-Modified, Expires
inline constexpr TSettingRange OverviewLinesRange{100, 1000000};
inline constexpr TSettingRange DetailLinesRange{1000, 1000000};
inline constexpr TSettingRange ConnectionsPerIPRange{0, 100000};
inline constexpr TSettingRange HeadTimeoutRange{100, 60000};
inline constexpr TSettingRange BodySizeRange{0, 64 * 1024 * 1024};
inline constexpr TSettingRange HeaderSizeRange{1024, 1024 * 1024};
inline constexpr TSettingRange RequestMemoryRange{1024 * 1024, 1024 * 1024 * 1024};
inline constexpr TSettingRange ReuseThreadsRange{0, 1000};
inline constexpr TSettingRange SpoolBytesRange{0, INT32_MAX};
inline constexpr TSettingRange KeepIPv4BitsRange{0, 32};
inline constexpr TSettingRange KeepIPv6BitsRange{0, 128};
inline constexpr TSettingRange KeepLogDaysRange{0, 3650};

// Look-up tables of the two lists and the ranges of TrustedProxies, made whenever one is
// published anew. Derived from the settings, so two records with equal settings count as
// equal whatever tables they hold.
struct TKAV_ListIndexes {
    std::shared_ptr<const TAddressIndex> NickNames;
    std::shared_ptr<const TAddressIndex> NoLogs;
    std::shared_ptr<const std::vector<TIPRange>> TrustedProxies;

    bool operator==(const TKAV_ListIndexes&) const { return true; }
};

// Every switch and number of the settings page, the log directory and the two lists.
// Defaults are those the program uses without a settings file.
struct TKAV_GeneralConfig {
    bool AutoStart = false;
    bool OverviewLogToScreen = false;
    bool OverviewLogToFile = false;
    bool OverviewLimitScreenLog = true;
    int32_t OverviewScreenLogLines = 5000;
    bool OverviewWrapLines = true;
    bool DetailLogToScreen = false;
    bool DetailLogToFile = false;
    bool DetailLimitScreenLog = true;
    int32_t DetailScreenLogLines = 5000;
    bool DetailWrapLines = true;
    std::string LogDir; // empty, or an existing directory ending with '/'
    int32_t ServerPort = 88;
    bool ResolveHostNames = false;
    bool EvalIfModifiedSince = false;
    bool CacheControlMaxAge = false;
    int32_t CacheControlMaxAgeSecs = 0;
    bool CacheControlPrivate = false;
    bool CacheControlNoCache = true;
    bool PragmaNoCache = true;
    bool LastModified = true;
    int32_t LastModifiedDays = 1;
    bool Expires = true;
    int32_t ExpiresSecs = 3;
    std::vector<std::string> NickNames; // lines "IP=Name"
    std::vector<std::string> NoLogs;    // one address per line
    bool UseNickNames = false;
    bool LogNoLogs = false;
    bool OverviewLogNoLogs = false;
    bool DetailLogNoLogs = false;
    bool GotoTNA = false;
    std::string AppTitle; // read only: edited in the file by hand, never written
    // Limits that keep one client from holding the public port (section General).
    int32_t MaxConnectionsPerIP = 16;            // simultaneous connections of one address; 0: none
    int32_t HeadTimeoutUnderLoad = 2000;         // ms for the request head while threads run short
    int32_t MaxBodySize = 64 * 1024;             // bytes of one request body
    int32_t MaxHeaderSize = 32 * 1024;           // bytes of one request's header lines
    int32_t MaxRequestMemory = 32 * 1024 * 1024; // bytes of requests held by all connections
    // Threads of finished connections kept waiting for the next ones (section General); 0: a
    // new thread for every connection. Read at each start.
    int32_t ReuseThreads = 64;
    // Where the server listens and whom it believes about the client behind a proxy.
    std::string BindAddress;    // one IPv4 or IPv6 address; empty: every address of both
    std::string TrustedProxies; // addresses and CIDR ranges separated by commas; empty: none
    // The header those proxies write the client into: ForwardedHeaderNames[0] or [1].
    std::string ForwardedHeader = "X-Forwarded-For";
    // HTTPS on the server's port (section TLS): PEM files of the certificate chain and its key;
    // an empty CertFile serves plain HTTP only, an empty KeyFile means the key is in CertFile.
    std::string TLSCertFile;
    std::string TLSKeyFile;
    // The shared store (section Store): a libpq connection string or URI, empty for none (a
    // password belongs in libpq's password file or environment, never here), and the bound of
    // the spool that keeps hits while the database cannot take them (0: no spool).
    std::string StoreConnection;
    int32_t StoreMaxSpoolBytes = 1 << 30;
    // The daily file of JSON lines beside the log files (section Export), and the instance
    // name every record carries (empty: the host name, see InstanceNameOf).
    bool ExportJsonFile = false;
    std::string ExportInstance;
    // The statistics dashboard on a port of its own (section Dashboard): 0 is off, a port
    // outside 1..65535 refuses its start. Without a password it listens on a loopback address
    // only. PasswordHash is "pbkdf2-sha256$rounds$salt$hash" (hex); ShareToken, when not empty,
    // opens a read-only view at /share/<token>.
    int32_t DashboardPort = 0;
    std::string DashboardBindAddress = "127.0.0.1";
    std::string DashboardPasswordHash;
    std::string DashboardShareToken;
    // What the records keep of a visitor (section Privacy): addresses masked to their first
    // bits, a daily visitor id in their place, Do-Not-Track honoured, credentials left out,
    // and the days of log files kept (0: all).
    bool MaskAddresses = false;
    int32_t KeepIPv4Bits = 16;
    int32_t KeepIPv6Bits = 32;
    bool VisitorIds = false; // a file without the key takes MaskAddresses's value
    bool HonourDoNotTrack = false;
    bool RedactCredentials = true;
    int32_t KeepLogDays = 0;

    // Not settings: a port given for one run may be 0 (the system chooses a free one); a 0
    // from the settings file refuses the start like any port outside PortRange.
    bool PortZeroAllowed = false;
    // Filled by ChangeGeneralConfig; empty in a record that was never published.
    TKAV_ListIndexes Indexes;

    bool operator==(const TKAV_GeneralConfig&) const = default;
};

// The process-wide record GeneralConfig. A published record is never changed again, so a
// reader may keep its snapshot for a whole request and sees the fields and both lists of
// one moment, never a half-refilled list. Any thread; cheap: a thread copies the pointer under
// a lock only the first time after a change, otherwise it reads a counter and keeps its copy.
std::shared_ptr<const TKAV_GeneralConfig> GeneralConfigSnapshot();

// Copies the current record, lets AChange edit the copy and publishes it, with new look-up
// tables for a list that changed. Changes are serialised; AChange must not call
// ChangeGeneralConfig itself. Window's thread.
void ChangeGeneralConfig(const std::function<void(TKAV_GeneralConfig&)>& AChange);

// Whether ABindAddress can be listened on: empty (every address) or one IPv4 or IPv6 address.
bool ValidBindAddress(const std::string& ABindAddress);
// The ranges of a TrustedProxies setting; the items that are no address or range go to ABad.
std::vector<TIPRange> TrustedProxyRanges(const std::string& ATrustedProxies,
                                         std::vector<std::string>* ABad = nullptr);
// The ranges of the record's TrustedProxies: its table, made anew for a record that was never
// published.
std::shared_ptr<const std::vector<TIPRange>> TrustedProxiesOf(const TKAV_GeneralConfig& AConfig);

// The values ForwardedHeader may take; a settings file's value is matched ignoring case.
inline constexpr const char* ForwardedHeaderNames[] = {"X-Forwarded-For", "Forwarded"};
// The name records give this instance: ExportInstance, or the host name when that is empty.
std::string InstanceNameOf(const TKAV_GeneralConfig& AConfig);

// The directory the log files go to for a LogDir setting: an empty one means the program
// directory, not wherever the program was started from (the home directory, for a launcher).
std::string LogDirectoryFor(const std::string& ALogDir);

// ProgramDir() followed by "sk_KAV.ini", "sk_KAV.NN" and "sk_KAV.NL".
std::string ConfigFilePath();
std::string NickNameFilePath();
std::string NoLogFilePath();
// ProgramDir() followed by "sk_KAV.visitorkey": the day's key of the visitor ids.
std::string VisitorKeyFilePath();

// Where one settings record lives: the profile file and the two list files.
struct TConfigFiles {
    std::string Settings;
    std::string NickNames;
    std::string NoLogs;
};

// The three paths above.
TConfigFiles DefaultConfigFiles();

// Fills GeneralConfig and both lists from the three default files. A missing settings file
// gives every default; missing or unreadable list files give empty lists. Numbers are clamped
// to their ranges. False when the settings file exists but cannot be read (also when it is no
// regular file of at most 16 MiB); the record is then left as it was.
[[nodiscard]] bool LoadConfig();
// What the user should hear of after a load, as a Messages line: a list file that cannot be
// read, a LogDir that names no directory (AboutLogDir: the line goes on to say where the log
// files go instead, which only the log writers know).
struct TLoadNote {
    std::string Text;
    bool AboutLogDir = false;

    bool operator==(const TLoadNote&) const = default;
};

// Same for a given record and files; ANotes, when given, receives the notes.
[[nodiscard]] bool LoadConfig(TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles,
                              std::vector<TLoadNote>* ANotes = nullptr);

// How a reload of the settings went.
enum class TSettledLoad {
    Loaded,     // the files read the same twice in a row, and their settings are in the record
    Unreadable, // the settings file exists but cannot be read: the record is as it was
    Unsettled,  // the files kept changing (a writer at work): the record is as it was
};
// Waits until the time given; the caller may go on with its own work meanwhile.
using TWaitUntil = std::function<void(std::chrono::steady_clock::time_point)>;
// How long a reload waits for the settings files to stop changing, and between two reads.
inline constexpr std::chrono::milliseconds SettleLimit{1000};
inline constexpr std::chrono::milliseconds SettlePause{50};

// LoadConfig for a reload while the server runs, when the files may be written at the same time
// (a settings file rewritten in place is empty for a moment): the three files are read, APause
// apart, until two reads in a row find the same bytes, for at most ALimit, and only those bytes
// are loaded. AWaitUntil does the waiting between two reads.
[[nodiscard]] TSettledLoad LoadSettledConfig(TKAV_GeneralConfig& AConfig,
                                             const TConfigFiles& AFiles,
                                             std::vector<TLoadNote>* ANotes,
                                             const TWaitUntil& AWaitUntil,
                                             std::chrono::milliseconds ALimit = SettleLimit,
                                             std::chrono::milliseconds APause = SettlePause);
// Same into GeneralConfig from the three default files, with the notes kept for TakeLoadNotes.
[[nodiscard]] TSettledLoad ReloadConfig(const TWaitUntil& AWaitUntil);

// The notes of the LoadConfig() and ReloadConfig() calls since the last call of this; they are
// meant for the Messages list once the front end has one (TTrackingService::AddLoadNotes).
std::vector<TLoadNote> TakeLoadNotes();

// Writes every key of GeneralConfig except AppTitle into the settings file, changing only
// those keys' lines, then both lists as whole files (their failures are passed over).
// Each file is written beside the old one and renamed over it, so a crash or a full disk
// never leaves a truncated file. False when the settings file cannot be written, or a key
// cannot (a text holding a line break): the keys before that one are still saved.
[[nodiscard]] bool SaveConfig();
// Same for a given record and files.
[[nodiscard]] bool SaveConfig(const TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles);

// The main window's outer frame in screen pixels; defaults are the window's own.
struct TWindowBounds {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Height = 373;
    int32_t Width = 819;

    bool operator==(const TWindowBounds&) const = default;
};

// Reads section "WindowPos" ("Top", "Left", "Height", "Width"), each key missing or not a
// number taking its value from ADefaults; all four defaults when the file cannot be read.
TWindowBounds LoadWindowPos(const TWindowBounds& ADefaults = TWindowBounds());
TWindowBounds LoadWindowPos(const std::string& ASettingsPath, const TWindowBounds& ADefaults);

// Writes the four keys of "WindowPos", leaving every other line; failures are passed over.
void SaveWindowPos(const TWindowBounds& ABounds);
void SaveWindowPos(const std::string& ASettingsPath, const TWindowBounds& ABounds);

// One key of the settings file as the documentation lists it: its section, its name and its
// default as the file would hold it (switches 0 or 1, numbers in decimal, texts as they are).
struct TSettingKeyDoc {
    std::string Section;
    std::string Name;
    std::string Default;
};
// Every key of the settings file, in the order they are read and written.
std::vector<TSettingKeyDoc> SettingKeyDocs();
