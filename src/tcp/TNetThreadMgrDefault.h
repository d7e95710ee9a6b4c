// TNetThreadMgrDefault: the thread manager that makes a new thread per connection, no pool.
// Same threads as TNetThreadMgr.
#pragma once

#include "tcp/TNetThreadMgr.h"

class TNetThreadMgrDefault : public TNetThreadMgr {
public:
    using TNetThreadMgr::TNetThreadMgr;

    // MakeThread, then listed as live.
    std::shared_ptr<TNetPeerThread> AcquireThread() override;
    // On the thread itself: marked to free itself at its end; otherwise halted, waited for.
    // Then no longer listed.
    void ReturnThread(TNetThread& AThread) override;
};
