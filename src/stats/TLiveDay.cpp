#include "stats/TLiveDay.h"

#include "stats/TLiveHitQueue.h"

TLiveDay::TLiveDay() : FQueue(std::make_shared<TLiveHitQueue>()), FLoading(true) {}

TLiveDay::~TLiveDay() {
    FQueue->SetEnabled(false);
}

std::function<void(const std::string&, const TFilePlace&)> TLiveDay::Sink() const {
    return TLiveHitQueue::SinkOf(FQueue);
}

void TLiveDay::Update(const std::string& ADir, const std::vector<std::string>& ANickNames,
                      const TLogDay& ADay) {
    TFollowed wanted{ADir, ANickNames, ADay};
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (FFollowed && *FFollowed == wanted && FQueue->Dropped() == FDroppedSeen) {
            TakeLines();
            return;
        }
        FLoading = true;
    }
    Load(wanted);
}

void TLiveDay::Load(const TFollowed& AFollowed) {
    // Switched on before the file is read, so no hit falls between the file and the queue; a
    // line handed over with a place inside what was read is counted from the file alone. A
    // line's write and its hand-over are two steps, so its number says nothing of whether the
    // reading saw it; where it ended in the file does.
    FQueue->SetEnabled(true);
    {
        std::lock_guard<std::mutex> guard(FLock);
        (void)FQueue->TakeAll();
        FDroppedSeen = FQueue->Dropped();
    }
    auto stats = std::make_unique<TDayStats>(AFollowed.NickNames);
    std::string error;
    TFilePlace readTo;
    const TReadStatus status =
        ReadOverviewFileTo(OverviewFilePath(AFollowed.Dir, AFollowed.Day), *stats, error, readTo);
    if (FAfterReading)
        FAfterReading();
    std::lock_guard<std::mutex> guard(FLock);
    FStats = std::move(stats);
    FStatus = status;
    FError = error;
    FReadTo = readTo;
    FFollowed = AFollowed;
    FLoading = false;
    FLoaded.notify_all();
}

void TLiveDay::Stop() {
    FQueue->SetEnabled(false);
    std::lock_guard<std::mutex> guard(FLock);
    (void)FQueue->TakeAll();
    FStats.reset();
    FFollowed.reset();
    FLoading = false;
    FLoaded.notify_all();
}

void TLiveDay::TakeLines() {
    bool counted = false;
    for (const TLiveHitQueue::TItem& item : FQueue->TakeAll()) {
        if (item.Place.Within(FReadTo) || !FStats)
            continue;
        FStats->AddLine(item.Line);
        counted = true;
    }
    if (counted && FStatus == TReadStatus::Missing)
        FStatus = TReadStatus::Read; // the file exists now
}

std::optional<TDayFigures> TLiveDay::Figures(const TLogDay& ADay, std::chrono::milliseconds AWait) {
    std::unique_lock<std::mutex> lock(FLock);
    FLoaded.wait_for(lock, AWait, [this] { return !FLoading; });
    if (FLoading || !FFollowed || FFollowed->Day != ADay || !FStats)
        return std::nullopt;
    TakeLines();
    TDayFigures figures;
    figures.Day = ADay;
    figures.Status = FStatus;
    figures.Error = FError;
    if (FStatus == TReadStatus::Read)
        figures.Summary = FStats->Summary(KeptNames);
    return figures;
}
