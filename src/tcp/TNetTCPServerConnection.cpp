#include "tcp/TNetTCPServerConnection.h"

TNetTCPServerConnection::TNetTCPServerConnection() : FAcceptedAt(TClock::now()) {}

bool TNetTCPServerConnection::MarkRequestArrived() {
    // One exchange decides between this and a close for slowness: a request that wins it is
    // never cut off, one that loses it finds the connection closed.
    TStage expected = TStage::Waiting;
    return FStage.compare_exchange_strong(expected, TStage::Arrived) || expected == TStage::Arrived;
}

bool TNetTCPServerConnection::CloseIfWaiting() {
    TStage expected = TStage::Waiting;
    if (!FStage.compare_exchange_strong(expected, TStage::Closed))
        return false;
    CloseSocketOnly();
    return true;
}

void TNetTCPServerConnection::LimitReached(const std::error_code& AReason, long long ALimit) {
    if (FRefusalReport)
        FRefusalReport(TNetRefusal{AReason, Binding().RemoteIP(), ALimit});
}
