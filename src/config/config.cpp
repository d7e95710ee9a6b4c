#include "config/config.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <variant>

#include "base/ProgramDir.h"
#include "config/ListFile.h"
#include "config/TProfileFile.h"

namespace {

using TConfig = TKAV_GeneralConfig;
using TField = std::variant<bool TConfig::*, int32_t TConfig::*, std::string TConfig::*>;

constexpr TSettingRange AnyNumber{INT32_MIN, INT32_MAX};

struct TKey {
    const char* Section;
    const char* Name;
    TField Field;
    TSettingRange Range = AnyNumber; // numbers read are clamped to it
    // The default as the documentation words it, where the field's own value is not it.
    const char* DefaultDoc = nullptr;
};

// Every key of the settings file in the order they are read and written.
const TKey Keys[] = {
    {"General", "AutoStart", &TConfig::AutoStart},
    {"OverviewLog", "LogToScreen", &TConfig::OverviewLogToScreen},
    {"OverviewLog", "LogToFile", &TConfig::OverviewLogToFile},
    {"OverviewLog", "LimitScreenLog", &TConfig::OverviewLimitScreenLog},
    {"OverviewLog", "ScreenLogLines", &TConfig::OverviewScreenLogLines, OverviewLinesRange},
    {"OverviewLog", "WrapLines", &TConfig::OverviewWrapLines},
    {"OverviewLog", "LogNoLogs", &TConfig::OverviewLogNoLogs},
    {"DetailLog", "LogToScreen", &TConfig::DetailLogToScreen},
    {"DetailLog", "LogToFile", &TConfig::DetailLogToFile},
    {"DetailLog", "LimitScreenLog", &TConfig::DetailLimitScreenLog},
    {"DetailLog", "ScreenLogLines", &TConfig::DetailScreenLogLines, DetailLinesRange},
    {"DetailLog", "WrapLines", &TConfig::DetailWrapLines},
    {"DetailLog", "LogNoLogs", &TConfig::DetailLogNoLogs},
    {"General", "ServerPort", &TConfig::ServerPort},
    {"General", "ResolveHostNames", &TConfig::ResolveHostNames},
    {"General", "EvalIfModifiedSince", &TConfig::EvalIfModifiedSince},
    {"General", "CacheControlMaxAge", &TConfig::CacheControlMaxAge},
    {"General", "CacheControlMaxAgeSecs", &TConfig::CacheControlMaxAgeSecs, HeaderNumberRange},
    {"General", "CacheControlPrivate", &TConfig::CacheControlPrivate},
    {"General", "CacheControlNoCache", &TConfig::CacheControlNoCache},
    {"General", "PragmaNoCache", &TConfig::PragmaNoCache},
    {"General", "LastModified", &TConfig::LastModified},
    {"General", "LastModifiedDays", &TConfig::LastModifiedDays, HeaderNumberRange},
    {"General", "Expires", &TConfig::Expires},
    {"General", "ExpiresSecs", &TConfig::ExpiresSecs, HeaderNumberRange},
    {"General", "AppTitle", &TConfig::AppTitle},
    {"General", "LogNoLogs", &TConfig::LogNoLogs},
    {"General", "UseNickNames", &TConfig::UseNickNames},
    {"General", "GotoTNA", &TConfig::GotoTNA},
    {"General", "LogDir", &TConfig::LogDir},
    {"General", "MaxConnectionsPerIP", &TConfig::MaxConnectionsPerIP, ConnectionsPerIPRange},
    {"General", "HeadTimeoutUnderLoad", &TConfig::HeadTimeoutUnderLoad, HeadTimeoutRange},
    {"General", "MaxBodySize", &TConfig::MaxBodySize, BodySizeRange},
    {"General", "MaxHeaderSize", &TConfig::MaxHeaderSize, HeaderSizeRange},
    {"General", "MaxRequestMemory", &TConfig::MaxRequestMemory, RequestMemoryRange},
    {"General", "ReuseThreads", &TConfig::ReuseThreads, ReuseThreadsRange},
    {"General", "BindAddress", &TConfig::BindAddress},
    {"General", "TrustedProxies", &TConfig::TrustedProxies},
    {"General", "ForwardedHeader", &TConfig::ForwardedHeader},
    {"TLS", "CertFile", &TConfig::TLSCertFile},
    {"TLS", "KeyFile", &TConfig::TLSKeyFile},
    {"Store", "Connection", &TConfig::StoreConnection},
    {"Store", "MaxSpoolBytes", &TConfig::StoreMaxSpoolBytes, SpoolBytesRange},
    {"Export", "JsonFile", &TConfig::ExportJsonFile},
    {"Export", "Instance", &TConfig::ExportInstance},
    {"Dashboard", "Port", &TConfig::DashboardPort},
    {"Dashboard", "BindAddress", &TConfig::DashboardBindAddress},
    {"Dashboard", "PasswordHash", &TConfig::DashboardPasswordHash},
    {"Dashboard", "ShareToken", &TConfig::DashboardShareToken},
    {"Privacy", "MaskAddresses", &TConfig::MaskAddresses},
    {"Privacy", "KeepIPv4Bits", &TConfig::KeepIPv4Bits, KeepIPv4BitsRange},
    {"Privacy", "KeepIPv6Bits", &TConfig::KeepIPv6Bits, KeepIPv6BitsRange},
    {"Privacy", "VisitorIds", &TConfig::VisitorIds, AnyNumber, "follows MaskAddresses"},
    {"Privacy", "HonourDoNotTrack", &TConfig::HonourDoNotTrack},
    {"Privacy", "RedactCredentials", &TConfig::RedactCredentials},
    {"Privacy", "KeepLogDays", &TConfig::KeepLogDays, KeepLogDaysRange},
};

const char* const WindowPosSection = "WindowPos";

// The process-wide record. Made on first use, so code running before main may use it.
struct TStore {
    // Guards Published. A published record is never changed, so readers need the lock only
    // to copy the pointer, and only after a change (see GeneralConfigSnapshot).
    std::mutex PublishLock;
    std::shared_ptr<const TConfig> Published = std::make_shared<const TConfig>();
    // Counts the records published; changed under PublishLock.
    std::atomic<std::uint64_t> Version{1};
    // Serialises ChangeGeneralConfig, so no change is lost between copying and publishing.
    std::mutex ChangeLock;
    // Guards LoadNotes, the notes of LoadConfig() not yet taken.
    std::mutex NotesLock;
    std::vector<TLoadNote> LoadNotes;
};

// Never destroyed: a detached peer thread may still read it while the process exits.
TStore& Store() {
    static TStore* store = new TStore;
    return *store;
}

void Publish(std::shared_ptr<const TConfig> AConfig) {
    std::lock_guard<std::mutex> guard(Store().PublishLock);
    Store().Published.swap(AConfig);
    Store().Version.fetch_add(1, std::memory_order_release);
    // the old record is released after the lock, when AConfig goes out of scope, or by the
    // last thread that still keeps it
}

void ReadKey(const TProfileFile& AFile, const TKey& AKey, TConfig& AConfig) {
    static const TConfig defaults;
    std::visit(
        [&](auto AMember) {
            using T = std::decay_t<decltype(AConfig.*AMember)>;
            if constexpr (std::is_same_v<T, bool>)
                AConfig.*AMember = AFile.ReadBool(AKey.Section, AKey.Name, defaults.*AMember);
            else if constexpr (std::is_same_v<T, int32_t>)
                AConfig.*AMember =
                    std::clamp(AFile.ReadInteger(AKey.Section, AKey.Name, defaults.*AMember),
                               AKey.Range.Min, AKey.Range.Max);
            else
                AConfig.*AMember = AFile.ReadString(AKey.Section, AKey.Name, defaults.*AMember);
        },
        AKey.Field);
}

bool WriteKey(TProfileFile& AFile, const TKey& AKey, const TConfig& AConfig) {
    return std::visit(
        [&](auto AMember) {
            using T = std::decay_t<decltype(AConfig.*AMember)>;
            if constexpr (std::is_same_v<T, bool>)
                return AFile.WriteBool(AKey.Section, AKey.Name, AConfig.*AMember);
            else if constexpr (std::is_same_v<T, int32_t>)
                return AFile.WriteInteger(AKey.Section, AKey.Name, AConfig.*AMember);
            else
                return AFile.WriteString(AKey.Section, AKey.Name, AConfig.*AMember);
        },
        AKey.Field);
}

bool IsAppTitle(const TKey& AKey) {
    return std::holds_alternative<std::string TConfig::*>(AKey.Field) &&
           std::get<std::string TConfig::*>(AKey.Field) == &TConfig::AppTitle;
}

bool IsDirectory(const std::string& ADir) {
    struct stat info {};
    return !ADir.empty() && ::stat(ADir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// An existing directory with a trailing '/', or empty. A LogDir that names no directory is
// told about: the log files then go elsewhere, which may not be where one looks for them.
std::string CheckedLogDir(const std::string& ADir, std::vector<TLoadNote>* ANotes) {
    if (IsDirectory(ADir))
        return ADir.back() == '/' ? ADir : ADir + "/";
    if (!ADir.empty() && ANotes)
        ANotes->push_back({"Log directory \"" + ADir + "\" is not a directory", true});
    return {};
}

// The bytes of the settings file and both lists as one reading found them.
struct TConfigImage {
    TFileReadResult Settings, NickNames, NoLogs;
    std::string SettingsText, NickNamesText, NoLogsText;

    bool operator==(const TConfigImage&) const = default;
};

TConfigImage ReadImage(const TConfigFiles& AFiles) {
    TConfigImage image;
    image.Settings = ReadFileText(AFiles.Settings, image.SettingsText);
    image.NickNames = ReadFileText(AFiles.NickNames, image.NickNamesText);
    image.NoLogs = ReadFileText(AFiles.NoLogs, image.NoLogsText);
    return image;
}

void ReadList(TFileReadResult AResult, const std::string& AText, const std::string& APath,
              const char* AName, std::vector<std::string>& ALines, std::vector<TLoadNote>* ANotes) {
    ALines = SplitListLines(AText);
    // A missing list is normal (nothing saved yet); one that cannot be read is not.
    if (AResult == TFileReadResult::Failed && ANotes)
        ANotes->push_back({std::string(AName) + " \"" + APath +
                           "\" is no readable file of at most 16 MiB: the list is empty"});
}

// Entries that are no address or range are left out of the table; a proxy named wrongly is
// trusted with nothing, and the user hears of it.
void CheckTrustedProxies(const std::string& AText, std::vector<TLoadNote>* ANotes) {
    std::vector<std::string> bad;
    (void)TrustedProxyRanges(AText, &bad);
    if (ANotes)
        for (const std::string& item : bad)
            ANotes->push_back(
                {"TrustedProxies: \"" + item + "\" is no address or range: it is passed over"});
}

// One of ForwardedHeaderNames as they are spelt; another value is told of and read as the
// default, the header every common proxy writes.
std::string CheckedForwardedHeader(const std::string& AText, std::vector<TLoadNote>* ANotes) {
    auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
    for (std::string_view name : ForwardedHeaderNames)
        if (std::equal(AText.begin(), AText.end(), name.begin(), name.end(),
                       [&](char A, char B) { return lower(A) == lower(B); }))
            return std::string(name);
    const std::string fallback = TConfig().ForwardedHeader;
    if (ANotes)
        ANotes->push_back({"ForwardedHeader: \"" + AText + "\" is neither X-Forwarded-For nor " +
                           "Forwarded: " + fallback + " is read"});
    return fallback;
}

void RefreshIndexes(const TConfig& ABefore, TConfig& AAfter) {
    TKAV_ListIndexes& indexes = AAfter.Indexes;
    if (!indexes.TrustedProxies || AAfter.TrustedProxies != ABefore.TrustedProxies)
        indexes.TrustedProxies = std::make_shared<const std::vector<TIPRange>>(
            TrustedProxyRanges(AAfter.TrustedProxies));
    if (!indexes.NickNames || AAfter.NickNames != ABefore.NickNames)
        indexes.NickNames = TAddressIndex::OfNickNames(AAfter.NickNames);
    if (!indexes.NoLogs || AAfter.NoLogs != ABefore.NoLogs)
        indexes.NoLogs = TAddressIndex::OfNoLogs(AAfter.NoLogs);
}

} // namespace

std::shared_ptr<const TKAV_GeneralConfig> GeneralConfigSnapshot() {
    // Each thread keeps the record it read last and takes the lock only when a newer one has
    // been published since: the lock every request used to queue on is taken once a change.
    struct TKept {
        std::uint64_t Version = 0;
        std::shared_ptr<const TConfig> Record;
    };
    thread_local TKept kept;
    TStore& store = Store();
    if (store.Version.load(std::memory_order_acquire) != kept.Version) {
        std::lock_guard<std::mutex> guard(store.PublishLock);
        kept.Record = store.Published;
        kept.Version = store.Version.load(std::memory_order_relaxed);
    }
    return kept.Record;
}

void ChangeGeneralConfig(const std::function<void(TKAV_GeneralConfig&)>& AChange) {
    std::lock_guard<std::mutex> guard(Store().ChangeLock);
    std::shared_ptr<const TConfig> before = GeneralConfigSnapshot();
    auto changed = std::make_shared<TConfig>(*before);
    AChange(*changed);
    RefreshIndexes(*before, *changed);
    Publish(std::move(changed));
}

bool ValidBindAddress(const std::string& ABindAddress) {
    return ABindAddress.empty() || ParseIPAddress(ABindAddress).has_value();
}

std::vector<TIPRange> TrustedProxyRanges(const std::string& ATrustedProxies,
                                         std::vector<std::string>* ABad) {
    return ParseIPRangeList(ATrustedProxies, ABad);
}

std::shared_ptr<const std::vector<TIPRange>> TrustedProxiesOf(const TKAV_GeneralConfig& AConfig) {
    if (AConfig.Indexes.TrustedProxies)
        return AConfig.Indexes.TrustedProxies;
    return std::make_shared<const std::vector<TIPRange>>(
        TrustedProxyRanges(AConfig.TrustedProxies));
}

std::string LogDirectoryFor(const std::string& ALogDir) {
    return ALogDir.empty() ? ProgramDir() : ALogDir;
}

std::string InstanceNameOf(const TKAV_GeneralConfig& AConfig) {
    if (!AConfig.ExportInstance.empty())
        return AConfig.ExportInstance;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::string ConfigFilePath() {
    return ProgramDir() + "sk_KAV.ini";
}
std::string NickNameFilePath() {
    return ProgramDir() + "sk_KAV.NN";
}
std::string NoLogFilePath() {
    return ProgramDir() + "sk_KAV.NL";
}
std::string VisitorKeyFilePath() {
    return ProgramDir() + "sk_KAV.visitorkey";
}

TConfigFiles DefaultConfigFiles() {
    return {ConfigFilePath(), NickNameFilePath(), NoLogFilePath()};
}

namespace {

bool LoadImage(TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles, const TConfigImage& AImage,
               std::vector<TLoadNote>* ANotes) {
    if (AImage.Settings == TFileReadResult::Failed)
        return false;
    TProfileFile file(AFiles.Settings);
    file.SetText(AImage.SettingsText);
    for (const TKey& key : Keys)
        ReadKey(file, key, AConfig);
    // Whoever masks addresses wants visitors counted without them, unless the file says not.
    AConfig.VisitorIds = file.ReadBool("Privacy", "VisitorIds", AConfig.MaskAddresses);
    AConfig.PortZeroAllowed = false; // a 0 from the file is no port
    AConfig.LogDir = CheckedLogDir(AConfig.LogDir, ANotes);
    CheckTrustedProxies(AConfig.TrustedProxies, ANotes);
    AConfig.ForwardedHeader = CheckedForwardedHeader(AConfig.ForwardedHeader, ANotes);
    // the lists are empty when missing or unreadable
    ReadList(AImage.NickNames, AImage.NickNamesText, AFiles.NickNames, "Nickname list",
             AConfig.NickNames, ANotes);
    ReadList(AImage.NoLogs, AImage.NoLogsText, AFiles.NoLogs, "No-log list", AConfig.NoLogs,
             ANotes);
    return true;
}

void KeepNotes(const std::vector<TLoadNote>& ANotes) {
    std::lock_guard<std::mutex> guard(Store().NotesLock);
    Store().LoadNotes.insert(Store().LoadNotes.end(), ANotes.begin(), ANotes.end());
}

} // namespace

bool LoadConfig(TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles,
                std::vector<TLoadNote>* ANotes) {
    return LoadImage(AConfig, AFiles, ReadImage(AFiles), ANotes);
}

bool LoadConfig() {
    bool loaded = false;
    std::vector<TLoadNote> notes;
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) {
        loaded = LoadConfig(AConfig, DefaultConfigFiles(), &notes);
    });
    KeepNotes(notes);
    return loaded;
}

TSettledLoad LoadSettledConfig(TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles,
                               std::vector<TLoadNote>* ANotes, const TWaitUntil& AWaitUntil,
                               std::chrono::milliseconds ALimit, std::chrono::milliseconds APause) {
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + ALimit;
    TConfigImage image = ReadImage(AFiles);
    for (;;) {
        const TClock::time_point next = TClock::now() + APause;
        if (next > deadline)
            return TSettledLoad::Unsettled;
        AWaitUntil(next);
        TConfigImage again = ReadImage(AFiles);
        if (again == image)
            break;
        image = std::move(again);
    }
    return LoadImage(AConfig, AFiles, image, ANotes) ? TSettledLoad::Loaded
                                                     : TSettledLoad::Unreadable;
}

TSettledLoad ReloadConfig(const TWaitUntil& AWaitUntil) {
    // Read before the change, so the record is not held while the files settle.
    TKAV_GeneralConfig loaded = *GeneralConfigSnapshot();
    std::vector<TLoadNote> notes;
    const TSettledLoad result = LoadSettledConfig(loaded, DefaultConfigFiles(), &notes, AWaitUntil);
    if (result != TSettledLoad::Loaded)
        return result;
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) {
        const TKAV_ListIndexes current = AConfig.Indexes;
        AConfig = loaded;
        AConfig.Indexes = current; // kept for the lists that did not change
    });
    KeepNotes(notes);
    return result;
}

std::vector<TLoadNote> TakeLoadNotes() {
    std::lock_guard<std::mutex> guard(Store().NotesLock);
    return std::exchange(Store().LoadNotes, {});
}

bool SaveConfig(const TKAV_GeneralConfig& AConfig, const TConfigFiles& AFiles) {
    TProfileFile file(AFiles.Settings);
    // an unreadable file is not replaced: the lines it holds would be lost
    if (!file.Load())
        return false;
    for (const TKey& key : Keys) {
        if (IsAppTitle(key))
            continue;
        if (!WriteKey(file, key, AConfig)) {
            (void)file.Save(); // the keys before this one are saved all the same
            return false;
        }
    }
    if (!file.Save())
        return false;
    (void)WriteListFile(AFiles.NickNames, AConfig.NickNames);
    (void)WriteListFile(AFiles.NoLogs, AConfig.NoLogs);
    return true;
}

bool SaveConfig() {
    return SaveConfig(*GeneralConfigSnapshot(), DefaultConfigFiles());
}

TWindowBounds LoadWindowPos(const std::string& ASettingsPath, const TWindowBounds& ADefaults) {
    TProfileFile file(ASettingsPath);
    if (!file.Load())
        return ADefaults;
    TWindowBounds bounds;
    bounds.Top = file.ReadInteger(WindowPosSection, "Top", ADefaults.Top);
    bounds.Left = file.ReadInteger(WindowPosSection, "Left", ADefaults.Left);
    bounds.Height = file.ReadInteger(WindowPosSection, "Height", ADefaults.Height);
    bounds.Width = file.ReadInteger(WindowPosSection, "Width", ADefaults.Width);
    return bounds;
}

TWindowBounds LoadWindowPos(const TWindowBounds& ADefaults) {
    return LoadWindowPos(ConfigFilePath(), ADefaults);
}

void SaveWindowPos(const std::string& ASettingsPath, const TWindowBounds& ABounds) {
    TProfileFile file(ASettingsPath);
    if (!file.Load())
        return; // an unreadable file is left as it is
    (void)file.WriteInteger(WindowPosSection, "Top", ABounds.Top);
    (void)file.WriteInteger(WindowPosSection, "Left", ABounds.Left);
    (void)file.WriteInteger(WindowPosSection, "Height", ABounds.Height);
    (void)file.WriteInteger(WindowPosSection, "Width", ABounds.Width);
    (void)file.Save();
}

void SaveWindowPos(const TWindowBounds& ABounds) {
    SaveWindowPos(ConfigFilePath(), ABounds);
}

std::vector<TSettingKeyDoc> SettingKeyDocs() {
    static const TConfig defaults;
    std::vector<TSettingKeyDoc> docs;
    for (const TKey& key : Keys) {
        if (key.DefaultDoc) {
            docs.push_back({key.Section, key.Name, key.DefaultDoc});
            continue;
        }
        std::string text = std::visit(
            [](auto AMember) -> std::string {
                using T = std::decay_t<decltype(defaults.*AMember)>;
                if constexpr (std::is_same_v<T, bool>)
                    return defaults.*AMember ? "1" : "0";
                else if constexpr (std::is_same_v<T, int32_t>)
                    return std::to_string(defaults.*AMember);
                else
                    return defaults.*AMember;
            },
            key.Field);
        docs.push_back({key.Section, key.Name, std::move(text)});
    }
    return docs;
}
