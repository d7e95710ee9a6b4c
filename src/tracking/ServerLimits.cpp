#include "tracking/ServerLimits.h"

#include "config/config.h"
#include "http/TNetHTTPServer.h"

void ApplyRequestLimits(TNetHTTPServer& AServer, const TKAV_GeneralConfig& AConfig) {
    AServer.SetMaxConnectionsPerIP(AConfig.MaxConnectionsPerIP);
    AServer.SetHeadTimeoutUnderLoad(AConfig.HeadTimeoutUnderLoad);
    AServer.SetMaxHeaderSize(static_cast<std::size_t>(AConfig.MaxHeaderSize));
    AServer.SetMaxBodySize(static_cast<std::size_t>(AConfig.MaxBodySize));
    AServer.SetMaxRequestMemory(static_cast<std::size_t>(AConfig.MaxRequestMemory));
}
