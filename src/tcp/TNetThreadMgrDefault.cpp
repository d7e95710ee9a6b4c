#include "tcp/TNetThreadMgrDefault.h"

#include "tcp/TNetPeerThread.h"

std::shared_ptr<TNetPeerThread> TNetThreadMgrDefault::AcquireThread() {
    std::shared_ptr<TNetPeerThread> thread = MakeThread();
    AddLive(thread.get());
    return thread;
}

void TNetThreadMgrDefault::ReturnThread(TNetThread& AThread) {
    // A thread returning itself frees itself at its end (peer threads are made that way);
    // any other thread is stopped here first.
    if (!AThread.FreeOnTerminate())
        AThread.HaltAndWait();
    RemoveLive(&AThread);
}
