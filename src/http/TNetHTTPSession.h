// A client session: random identifier, the client's address, last access and the handler's values.
// Any thread: LastAccess under the list's lock, Values under Guard; the rest is fixed.
#pragma once

#include "base/DateTime.h"

#include <mutex>
#include <string>
#include <vector>

class TNetHTTPSessionList;

class TNetHTTPSession {
public:
    TNetHTTPSession(TNetHTTPSessionList* AOwner, std::string AId, std::string APeerAddress);
    TNetHTTPSession(const TNetHTTPSession&) = delete;
    TNetHTTPSession& operator=(const TNetHTTPSession&) = delete;
    virtual ~TNetHTTPSession() = default;

    const std::string& Id() const { return FId; }
    const std::string& PeerAddress() const { return FPeerAddress; }
    // The list's lock must be held for these three.
    TDateTime LastAccess() const { return FLastAccess; }
    void SetLastAccess(TDateTime AValue) { FLastAccess = AValue; }
    TNetHTTPSessionList* Owner() const { return FOwner; }

    // Idle for longer than the list's idle time (whole milliseconds since LastAccess).
    virtual bool IsExpired(TDateTime ANow) const;
    // Calls the list's OnSessionEnd while attached; the list calls it once, then detaches.
    virtual void NotifyEnd();
    void Detach() { FOwner = nullptr; }

    std::vector<std::string> Values; // the handler's own use, under Guard
    std::mutex Guard;

private:
    TNetHTTPSessionList* FOwner;
    const std::string FId;
    const std::string FPeerAddress;
    TDateTime FLastAccess;
};
