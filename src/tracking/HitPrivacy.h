// What the privacy settings make of one hit, decided once by the handler for every record of
// it (screen logs, log files and, from there, the JSON line and the shared store). Pure
// functions but for the day's key; any thread.
#pragma once

#include <string>
#include <string_view>

#include "base/DateTime.h"

class TNetHeaderList;
class TVisitorKeys;
struct TKAV_GeneralConfig;
struct TNetHTTPRequestInfo;

struct THitPrivacy {
    // Do-Not-Track honoured: recorded without address, port, host name, nickname, user name
    // and visitor id.
    bool OptedOut = false;
    // Address is masked: no host name is looked up for it (a name identifies).
    bool Masked = false;
    // The client as every record shows it: the full address, the masked one, or empty when
    // OptedOut.
    std::string Address;
    // 16 hex digits of the day's keyed hash; empty when off, opted out or no key could be made.
    std::string VisitorId;
};

// Whether a request asks not to be tracked: a "Sec-GPC" or "DNT" header of value 1.
bool AsksNotToBeTracked(const TNetHeaderList& AHeaders);

// The decision for a request from ARequest.RemoteIP (the full address, which the nickname
// and no-log lists still match) that arrived at ATime (local).
THitPrivacy PrivacyOf(const TKAV_GeneralConfig& ASettings, const TNetHTTPRequestInfo& ARequest,
                      TDateTime ATime, TVisitorKeys& AKeys);

// The client's address as the Messages lines name it (refusals): masked when addresses are.
std::string AddressForMessages(const TKAV_GeneralConfig& ASettings, std::string_view AAddress);
