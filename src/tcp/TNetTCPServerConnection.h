// TNetTCPServerConnection: a connection accepted by a TNetTCPServer, owned by its peer thread.
// Same threads as TNetTCPConnection; MarkRequestArrived on the peer thread, the stage and
// CloseIfWaiting from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "tcp/TNetRefusal.h"
#include "tcp/TNetTCPConnection.h"

class TNetTCPServerConnection : public TNetTCPConnection {
public:
    using TClock = std::chrono::steady_clock;
    // Takes the refusal of a connection closed at one of its limits (ReadTimeout, SendTimeout).
    using TRefusalReport = std::function<void(const TNetRefusal& ARefusal)>;

    // Made by the listener just before the accept: the connection's age counts from here.
    TNetTCPServerConnection();

    TClock::time_point AcceptedAt() const { return FAcceptedAt; }

    // The protocol says that the client's request has arrived (for a protocol that reads a body
    // after its head: the head). Until then a busy server may close the connection as too slow
    // (see TNetTCPServer::HeadTimeoutUnderLoad). False when it already has.
    bool MarkRequestArrived();
    bool RequestArrived() const { return FStage.load() == TStage::Arrived; }
    // Closes the connection unless its request has arrived; true when it was closed here.
    bool CloseIfWaiting();

    // The key of the client the connection counts under for the per-address limit
    // (TNetTCPServer::ClientKey); empty while it counts under none. Set by the listener
    // before the peer thread starts, then by the server on the peer thread (CountAsClient).
    const std::string& ClientKey() const { return FClientKey; }
    void SetClientKey(std::string AKey) { FClientKey = std::move(AKey); }
    // Where the connection reports its refusals, with the client's address (its server); set
    // before the peer thread starts. None: they are not reported.
    void SetRefusalReport(TRefusalReport AReport) { FRefusalReport = std::move(AReport); }

protected:
    // Reports the refusal, with the client's address.
    void LimitReached(const std::error_code& AReason, long long ALimit) override;

private:
    enum class TStage { Waiting, Arrived, Closed };

    const TClock::time_point FAcceptedAt;
    std::atomic<TStage> FStage{TStage::Waiting};
    std::string FClientKey;
    TRefusalReport FRefusalReport;
};
