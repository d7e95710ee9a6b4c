#include "tracking/HitPrivacy.h"

#include <cmath>

#include "base/IPAddress.h"
#include "config/config.h"
#include "http/TNetHTTPRequestInfo.h"
#include "tracking/TVisitorKeys.h"

namespace {

bool IsOne(std::string_view AValue) {
    while (!AValue.empty() && (AValue.front() == ' ' || AValue.front() == '\t'))
        AValue.remove_prefix(1);
    while (!AValue.empty() && (AValue.back() == ' ' || AValue.back() == '\t'))
        AValue.remove_suffix(1);
    return AValue == "1";
}

} // namespace

bool AsksNotToBeTracked(const TNetHeaderList& AHeaders) {
    return IsOne(AHeaders.ValueOf("Sec-GPC")) || IsOne(AHeaders.ValueOf("DNT"));
}

THitPrivacy PrivacyOf(const TKAV_GeneralConfig& ASettings, const TNetHTTPRequestInfo& ARequest,
                      TDateTime ATime, TVisitorKeys& AKeys) {
    THitPrivacy privacy;
    if (ASettings.HonourDoNotTrack && AsksNotToBeTracked(ARequest.Headers)) {
        privacy.OptedOut = true;
        return privacy;
    }
    privacy.Masked = ASettings.MaskAddresses;
    privacy.Address =
        ASettings.MaskAddresses
            ? MaskedAddressText(ARequest.RemoteIP, ASettings.KeepIPv4Bits, ASettings.KeepIPv6Bits)
            : ARequest.RemoteIP;
    if (ASettings.VisitorIds)
        privacy.VisitorId = AKeys.VisitorId(static_cast<int>(std::floor(ATime)), ARequest.RemoteIP,
                                            ARequest.Headers.ValueOf("User-Agent"),
                                            ARequest.Headers.ValueOf("Host"));
    return privacy;
}

std::string AddressForMessages(const TKAV_GeneralConfig& ASettings, std::string_view AAddress) {
    if (!ASettings.MaskAddresses)
        return std::string(AAddress);
    return MaskedAddressText(AAddress, ASettings.KeepIPv4Bits, ASettings.KeepIPv6Bits);
}
