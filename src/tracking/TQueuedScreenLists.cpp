#include "tracking/TQueuedScreenLists.h"

TQueuedScreenLists::TQueuedScreenLists(TAppendFn AOnAppend, bool AKeepLines)
    : TMemoryScreenLists(std::move(AOnAppend), AKeepLines),
      FFrontEndThread(std::this_thread::get_id()) {}

void TQueuedScreenLists::RunOnFrontEnd(const std::function<void()>& AChange) {
    if (std::this_thread::get_id() == FFrontEndThread)
        TMemoryScreenLists::RunOnFrontEnd(AChange);
    else
        FQueue.RunAndWait([&] { TMemoryScreenLists::RunOnFrontEnd(AChange); });
}
