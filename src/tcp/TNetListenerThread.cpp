#include "tcp/TNetListenerThread.h"

#include <algorithm>

#include "tcp/NetExceptions.h"
#include "tcp/TNetTCPServerConnection.h"
#include "tcp/TNetThreadMgr.h"

namespace {

// Accept failures that recur at once while their cause lasts (descriptors or memory run out):
// the listener pauses before the next try instead of spinning.
bool NeedsBackoff(int ACode) {
    return ACode != NetErrConnAborted && ACode != NetErrConnReset;
}

} // namespace

void TNetListenerThread::Cycle() {
    FServer.CloseSlowRequests();
    if (!WaitForRoom())
        return;
    TNetSocketHandles& bindings = FServer.Bindings();
    // Pinned for the whole cycle: a deactivation meanwhile wakes the wait and the descriptors
    // are closed only after the pins go, so no accept can reach a reused descriptor number.
    // The lists are members so that a cycle allocates nothing; the pins go when it ends.
    struct TUnpin {
        std::vector<TNetSocketHandle::TPin>& Pins;
        ~TUnpin() { Pins.clear(); }
    } unpin{FPins};
    FDescriptors.clear();
    for (int i = 0; i < bindings.Count(); ++i) {
        FPins.emplace_back(bindings.Items(i));
        FDescriptors.push_back(FPins.back().Descriptor());
    }
    std::vector<int>& ready = FReady;
    ready = FDescriptors;
    const int wait = static_cast<int>(UntilOverdue(std::chrono::milliseconds(FSelectWait)).count());
    int count = SocketStack().WaitForSockets(&ready, nullptr, nullptr, wait);
    if (count < 0 && !Terminated())
        SleepUnlessTerminated(FailureBackoff); // a failing wait must not spin
    if (count < 1 || Terminated())
        return;
    // Under load connections queue up while one is handed over: take them in a run instead
    // of a wait per connection, as long as there is room and the queue has one.
    bool roomChecked = true; // by WaitForRoom, for the first accept
    for (int descriptor : ready) {
        for (int taken = 0; taken < AcceptRun; ++taken) {
            if (Terminated())
                return;
            if (!roomChecked && !FServer.WaitForRoom(std::chrono::milliseconds(0)))
                return;
            roomChecked = false;
            if (!AcceptOn(descriptor))
                break;
        }
    }
}

bool TNetListenerThread::WaitForRoom() {
    // Peers leaving and a stop wake the wait; the step only bounds it. While slow requests may
    // be closed to make room, the step is short enough to notice them soon after their time.
    auto step = std::chrono::milliseconds(FSelectWait > 0 ? FSelectWait : 1000);
    if (FServer.ClosesSlowRequests())
        step = std::min(step, SlowRequestCheck);
    std::chrono::milliseconds wait{0}; // a look first, on every cycle
    while (!FServer.WaitForRoom(wait)) {
        if (Terminated())
            return false;
        FServer.CloseSlowRequests();
        wait = UntilOverdue(step);
    }
    return !Terminated();
}

std::chrono::milliseconds TNetListenerThread::UntilOverdue(std::chrono::milliseconds AWait) {
    const std::chrono::milliseconds due =
        FThreadMgr ? FThreadMgr->StartOverdueThreads() : std::chrono::milliseconds(-1);
    if (due.count() < 0 || (AWait.count() < 0 && AWait.count() != WaitForever))
        return AWait; // none held, or a wait that does not wait anyway
    return AWait.count() == WaitForever ? due : std::min(AWait, due);
}

bool TNetListenerThread::AcceptOn(int AListening) {
    auto connection = std::make_unique<TNetTCPServerConnection>();
    try {
        // Nothing waiting: the queue is empty, or the client went away between the wait and
        // the accept; nothing failed.
        if (!connection->Binding().AcceptFrom(AListening))
            return false;
    } catch (const ENetSocketError& e) {
        ReportFailure(e.Message(), e.SocketErrorCode());
        return false;
    }
    if (!FServer.AdmitsClient(*connection))
        return true; // closed with the connection, before any thread is made for it
    try {
        FServer.StartPeerThread(std::move(connection), FThreadMgr);
    } catch (const std::exception& e) {
        // The connection went with the thread that could not be made; clients get a close.
        ReportFailure(e.what(), NetErrNoBufferSpace);
        return false;
    }
    return true;
}

void TNetListenerThread::ReportFailure(const std::string& AMessage, int ACode) {
    if (Terminated())
        return;
    auto now = std::chrono::steady_clock::now();
    if (!FReported || now - FLastReport >= std::chrono::seconds(1)) {
        FReported = true;
        FLastReport = now;
        FServer.ReportListenerError(AMessage);
    }
    if (NeedsBackoff(ACode))
        SleepUnlessTerminated(FailureBackoff);
}

void TNetListenerThread::Finish() {
    // Halted by the server's deactivation, which releases the sockets itself and keeps their
    // addresses for the next activation; releasing here too would race it and could clear them.
    if (Terminated())
        return;
    TNetSocketHandles& bindings = FServer.Bindings();
    for (int i = bindings.Count() - 1; i >= 0; --i)
        bindings.Items(i).ReleaseSocket(true);
}
