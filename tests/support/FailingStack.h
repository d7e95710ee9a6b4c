// A socket stack for tests: the POSIX stack with every accept, receive and send counted, the
// n-th of a kind made to fail on request, and a scope that puts it in place. Any thread.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "tcp/TNetComponent.h"
#include "tcp/TNetStackPosix.h"

class TFailingStack : public TNetStackPosix {
public:
    enum class TCall { Accept, Receive, Send };

    // Calls of the kind made since the stack was put in place.
    int Calls(TCall AKind) const;
    // The calls of AKind numbered AFirst to AFirst + ACount - 1, counted from 1 from now on,
    // fail with AErrno (translated like a real failure).
    void FailCalls(TCall AKind, int AFirst, int AErrno, int ACount = 1);
    // No more failures of AKind than those already made.
    void StopFailing(TCall AKind) { FailCalls(AKind, 1, 0, 0); }
    // Poses as a system without IPv6: no IPv6 socket can be made.
    void SetWithoutIPv6(bool AValue) { FWithoutIPv6 = AValue; }

    int AcceptOn(int ASocket, std::string& AIP, int& APort) override;
    int ReceiveOn(int ASocket, void* ABuffer, int ALength, int AFlags) override;
    int SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) override;
    int NewSocket(int AFamily, int AType, int AProtocol) override;

private:
    struct TKind {
        std::atomic<int> Calls{0};
        int FailFrom = 0, FailTo = -1, Errno = 0; // guarded by FLock
    };
    // Counts a call of AKind; true (errno set) when it is to fail.
    bool Fails(TCall AKind);

    mutable std::mutex FLock; // guards the failure windows of FKinds
    std::array<TKind, 3> FKinds;
    std::atomic<bool> FWithoutIPv6{false};
};

// Puts a TFailingStack in place for the scope of a test; the replaced stacks stay alive until
// the process ends, since a detached peer thread may still be closing its socket through one.
class TInjectedStack {
public:
    TInjectedStack();
    ~TInjectedStack();
    TInjectedStack(const TInjectedStack&) = delete;
    TInjectedStack& operator=(const TInjectedStack&) = delete;
    TFailingStack& Stack() { return *FStack; }

private:
    TNetComponent FKeepStack;
    TFailingStack* FStack;
};
