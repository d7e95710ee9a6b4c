#include "tracking/StartupMessages.h"

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
