#include "http/TNetHTTPSession.h"

#include "http/TNetHTTPSessionList.h"

#include <cmath>

TNetHTTPSession::TNetHTTPSession(TNetHTTPSessionList* AOwner, std::string AId,
                                 std::string APeerAddress)
    : FOwner(AOwner), FId(std::move(AId)), FPeerAddress(std::move(APeerAddress)),
      FLastAccess(Now()) {}

bool TNetHTTPSession::IsExpired(TDateTime ANow) const {
    if (FOwner == nullptr)
        return true;
    const double idleMs = std::floor((ANow - FLastAccess) * MSecsPerDay + 0.5);
    return idleMs > static_cast<double>(FOwner->IdleTime());
}

void TNetHTTPSession::NotifyEnd() {
    if (FOwner != nullptr && FOwner->OnSessionEnd)
        FOwner->OnSessionEnd(this);
}
