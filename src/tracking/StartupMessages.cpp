#include "tracking/StartupMessages.h"

#include <cctype>

#include "base/IPAddress.h"

std::vector<std::string> StartupMessages(const TKAV_GeneralConfig& AConfig,
                                         const std::string& AProgramDir,
                                         const std::string& ALogDir) {
    std::vector<std::string> lines;
    lines.push_back("Program directory \"" + AProgramDir + "\", log directory \"" + ALogDir + "\"");
    const bool recording = AConfig.OverviewLogToScreen || AConfig.OverviewLogToFile ||
                           AConfig.DetailLogToScreen || AConfig.DetailLogToFile;
    if (!recording)
        lines.push_back("All logs are off: hits will not be recorded. Switch on \"Screen\" or "
                        "\"File\" on the Logging page, or LogToScreen=1 or LogToFile=1 in "
                        "[OverviewLog] or [DetailLog] of sk_KAV.ini");
    return lines;
}

namespace {

// Letters, digits, hyphens and dots: a name a browser could ask for. A certificate's own words
// may hold anything, a line end among them, and must not reach the Messages list raw.
bool IsHostName(const std::string& AName) {
    if (AName.empty() || AName.size() > 253)
        return false;
    for (unsigned char c : AName)
        if (!std::isalnum(c) && c != '-' && c != '.')
            return false;
    return true;
}

} // namespace

std::string SnippetHost(const std::vector<std::string>& ACertificateNames,
                        const std::string& ABindAddress, const std::string& AMachineName) {
    for (const std::string& name : ACertificateNames)
        if (IsHostName(name))
            return name;
    if (ABindAddress.empty() || ABindAddress == "0.0.0.0" || ABindAddress == "::")
        return AMachineName.empty() ? "localhost" : AMachineName;
    return ABindAddress;
}

std::string PixelSnippetLine(const std::string& AHost, int APort, bool ASecure) {
    return "Put this into your pages, with each page's name after page=: <img src=\"" +
           std::string(ASecure ? "https://" : "http://") + AddressAndPort(AHost, APort) +
           "/t.gif?page=home\" width=\"1\" height=\"1\" alt=\"\">";
}
