#include "tracking/TQueuedScreenLists.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "logging/sk_InetFuncs.h"

namespace {

// The lines an entry makes at least: one per line break, and one for text after the last.
std::size_t LinesOf(const std::string& AText) {
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < AText.size(); ++i)
        if (AText[i] == '\n' ||
            (AText[i] == '\r' && (i + 1 == AText.size() || AText[i + 1] != '\n')))
            ++breaks;
    const bool endsWithBreak = !AText.empty() && (AText.back() == '\n' || AText.back() == '\r');
    return std::max<std::size_t>(1, breaks + (endsWithBreak ? 0 : 1));
}

// The lines of a list that can still be seen before its newest entry: a limited list is cut
// back whenever it holds more than a tenth over its limit, the Messages list at 5000 lines.
// 0: all of them.
std::size_t KeptBeforeNewest(TScreenLog ALog, int ALimit) {
    if (ALog == TScreenLog::Messages)
        return MaxSysMessages;
    return ALimit > 0 ? static_cast<std::size_t>(std::lround(ALimit * 1.1)) : 0;
}

} // namespace

TScreenLogModel::TScreenLogModel(const std::vector<std::size_t>& ASizes)
    : FLines(ASizes.begin(), ASizes.end()) {
    for (std::size_t size : ASizes)
        FText += size + 2;
}

void TScreenLogModel::RemoveLeadingChars(std::size_t ACount) {
    while (ACount > 0 && !FLines.empty()) {
        std::size_t& first = FLines.front();
        if (ACount >= first + 2) {
            ACount -= first + 2;
            FText -= first + 2;
            FLines.pop_front();
            ++FRemoved;
        } else {
            const std::size_t cut = std::min(ACount, first);
            first -= cut;
            FText -= cut;
            ACount = 0;
        }
    }
}

void TScreenLogModel::RemoveFirstLine() {
    if (FLines.empty())
        return;
    FText -= FLines.front() + 2;
    FLines.pop_front();
    ++FRemoved;
}

void TScreenLogModel::Append(const std::vector<std::size_t>& ASizes) {
    for (std::size_t size : ASizes) {
        FLines.push_back(size);
        FText += size + 2;
    }
}

void TrimScreenLog(TScreenLogModel& ALog, int ALimit) {
    // Cuts old text in proportion to the excess, so a long log shrinks in a few large cuts.
    if (ALog.LineCount() <= std::lround(ALimit * 1.1))
        return;
    while (ALog.LineCount() > ALimit) {
        double ratio = static_cast<double>(ALog.LineCount()) / ALimit;
        std::size_t len = ALog.TextSize();
        std::size_t tenth = len / 10;
        std::size_t keep = static_cast<std::size_t>(std::llround(len / ratio));
        std::size_t cut = len - std::min(keep, len);
        if (cut < tenth)
            cut = tenth;
        // A tiny log whose rounding leaves nothing to cut would never shrink.
        if (cut == 0)
            cut = 1;
        ALog.RemoveLeadingChars(cut);
    }
    ALog.RemoveFirstLine();
}

void TQueuedScreenLists::Post(TScreenLog ALog, std::string AText, int ALimit) {
    TEntry entry{std::move(AText), std::max(ALimit, 0), 0};
    entry.Lines = LinesOf(entry.Text);
    TQueue& queue = QueueOf(ALog);
    std::lock_guard<std::mutex> guard(queue.Lock);
    if (queue.Closed)
        return;
    queue.Lines += entry.Lines;
    queue.Bytes += entry.Text.size();
    queue.Entries.push_back(std::move(entry));
    if (queue.Bytes > MaxQueuedBytes)
        LeaveOutOld(queue, KeptBeforeNewest(ALog, ALimit));
}

void TQueuedScreenLists::LeaveOutOld(TQueue& AQueue, std::size_t AKeepLines) {
    auto dropOldest = [&] {
        AQueue.Lines -= AQueue.Entries.front().Lines;
        AQueue.Bytes -= AQueue.Entries.front().Text.size();
        AQueue.Entries.pop_front();
    };
    // An entry is out of sight once the lines after it, the newest entry's aside, fill what
    // the list keeps before its newest entry: the list's own limit would remove it, so
    // nothing is lost that could be seen (later cuts may fall elsewhere in the text).
    const std::size_t newest = AQueue.Entries.back().Lines;
    while (AKeepLines > 0 && AQueue.Entries.size() > 1 &&
           AQueue.Lines - AQueue.Entries.front().Lines - newest >= AKeepLines)
        dropOldest();
    // Beyond that, only a window that does not take its entries makes the queue grow.
    while (AQueue.Bytes > MaxQueuedBytes && AQueue.Entries.size() > 1) {
        dropOldest();
        ++AQueue.LeftOut;
    }
}

void TQueuedScreenLists::ShowQueued(IScreenView& AView) {
    std::uint64_t leftOut = 0;
    for (TScreenLog log : {TScreenLog::Overview, TScreenLog::Detail, TScreenLog::Messages}) {
        std::deque<TEntry> entries;
        {
            TQueue& queue = QueueOf(log);
            std::lock_guard<std::mutex> guard(queue.Lock);
            entries.swap(queue.Entries);
            queue.Lines = queue.Bytes = 0;
            leftOut += std::exchange(queue.LeftOut, 0);
        }
        Show(AView, log, entries);
    }
    ShowLeftOut(AView, leftOut);
}

// The entries go through the trimming rule one by one on the log's line sizes; the log's text
// then loses what the rule cut in one removal and takes what is left of the entries.
void TQueuedScreenLists::Show(IScreenView& AView, TScreenLog ALog,
                              const std::deque<TEntry>& AEntries) {
    const bool limited = ALog == TScreenLog::Messages ||
                         std::any_of(AEntries.begin(), AEntries.end(),
                                     [](const TEntry& AEntry) { return AEntry.Limit > 0; });
    if (!limited) {
        for (const TEntry& entry : AEntries)
            AView.AppendEntry(ALog, entry.Text);
        return;
    }
    std::vector<std::size_t> sizes;
    AView.LineSizes(ALog, sizes);
    const std::size_t own = sizes.size();
    TScreenLogModel model(sizes);
    std::vector<std::size_t> firstLines; // of each entry, counted as Removed counts
    for (const TEntry& entry : AEntries) {
        if (ALog == TScreenLog::Messages) {
            while (model.LineCount() > MaxSysMessages)
                model.RemoveFirstLine();
        } else if (entry.Limit > 0) {
            TrimScreenLog(model, entry.Limit);
        }
        firstLines.push_back(model.Total());
        sizes.clear();
        AView.EntryLineSizes(entry.Text, sizes);
        model.Append(sizes);
    }
    const std::size_t removed = model.Removed();
    if (removed > 0)
        AView.RemoveFirstLines(ALog, std::min(removed, own));
    for (std::size_t i = 0; i < AEntries.size(); ++i) {
        const std::size_t end = i + 1 < AEntries.size() ? firstLines[i + 1] : model.Total();
        if (end > removed)
            AView.AppendEntry(ALog, AEntries[i].Text,
                              removed > firstLines[i] ? removed - firstLines[i] : 0);
    }
}

void TQueuedScreenLists::ShowLeftOut(IScreenView& AView, std::uint64_t ALeftOut) {
    FLeftOutUntold += ALeftOut;
    const auto now = std::chrono::steady_clock::now();
    if (FLeftOutUntold == 0 ||
        (FLeftOutTold.time_since_epoch().count() != 0 && now - FLeftOutTold < LeftOutInterval))
        return;
    FLeftOutTold = now;
    const std::uint64_t count = std::exchange(FLeftOutUntold, 0);
    const int lines = AView.LineCount(TScreenLog::Messages);
    if (lines > MaxSysMessages)
        AView.RemoveFirstLines(TScreenLog::Messages,
                               static_cast<std::size_t>(lines - MaxSysMessages));
    AView.AppendEntry(TScreenLog::Messages,
                      LongTimeStamp() + ": " + std::to_string(count) +
                          (count == 1 ? " screen log entry" : " screen log entries") +
                          " left out: the window did not take them in time");
}

void TQueuedScreenLists::Close() {
    for (TQueue& queue : FQueues) {
        std::lock_guard<std::mutex> guard(queue.Lock);
        queue.Closed = true;
        queue.Entries.clear();
        queue.Lines = queue.Bytes = 0;
    }
}
