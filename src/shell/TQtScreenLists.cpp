#include "shell/TQtScreenLists.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

#include <exception>
#include <thread>

namespace {

// The number of characters of ALine whose UTF-8 form fits into ABytes bytes.
int CharsInBytes(const QString& ALine, std::size_t ABytes) {
    std::size_t used = 0;
    int i = 0;
    while (i < ALine.size()) {
        const int width = ALine.at(i).isHighSurrogate() && i + 1 < ALine.size() ? 2 : 1;
        used += static_cast<std::size_t>(ALine.mid(i, width).toUtf8().size());
        if (used > ABytes)
            break;
        i += width;
    }
    return i;
}

bool EndsWithEmptyBlock(const QTextDocument& ADoc) {
    return ADoc.lastBlock().length() <= 1; // only the block's own separator
}

} // namespace

TQtScreenLists::TQtScreenLists(QPlainTextEdit* AOverview, QPlainTextEdit* ADetail,
                               QPlainTextEdit* AMessages)
    : FViews{AOverview, ADetail, AMessages}, FWindowThread(QThread::currentThread()),
      FWaker(std::make_unique<QObject>()) {}

TQtScreenLists::~TQtScreenLists() {
    if (OnWindowThread())
        Close();
}

bool TQtScreenLists::OnWindowThread() const {
    return QThread::currentThread() == FWindowThread;
}

QPlainTextEdit* TQtScreenLists::View(TScreenLog ALog) const {
    return FViews[static_cast<int>(ALog)];
}

void TQtScreenLists::RunOnFrontEnd(const std::function<void()>& AChange) {
    if (OnWindowThread()) {
        if (!FClosed)
            AChange();
        return;
    }
    auto change = std::make_shared<TChange>();
    change->Run = AChange;
    std::unique_lock<std::mutex> lock(FQueueLock);
    if (FClosed)
        return;
    FQueue.push_back(change);
    FQueued.notify_all();
    if (!FServePosted) {
        // Posting under the lock: Close takes the lock before it deletes the waker.
        FServePosted = true;
        QMetaObject::invokeMethod(
            FWaker.get(), [this] { ServeQueued(); }, Qt::QueuedConnection);
    }
    FFinished.wait(lock, [&] { return change->Done; });
}

void TQtScreenLists::RunOne(const std::shared_ptr<TChange>& AChange,
                            std::unique_lock<std::mutex>& ALock) {
    ALock.unlock();
    try {
        AChange->Run();
    } catch (...) {
        // A failed change must not take the window down; its caller goes on all the same.
    }
    ALock.lock();
    AChange->Done = true;
    FFinished.notify_all();
}

void TQtScreenLists::ServeQueued() {
    std::unique_lock<std::mutex> lock(FQueueLock);
    FServePosted = false;
    // Serve only what was queued when the call arrived, so the event loop gets its turn.
    std::size_t count = FQueue.size();
    while (count-- > 0 && !FQueue.empty() && !FClosed) {
        std::shared_ptr<TChange> change = FQueue.front();
        FQueue.pop_front();
        RunOne(change, lock);
    }
    if (!FQueue.empty() && !FClosed && !FServePosted) {
        FServePosted = true;
        QMetaObject::invokeMethod(
            FWaker.get(), [this] { ServeQueued(); }, Qt::QueuedConnection);
    }
}

void TQtScreenLists::ServeUntilFinished(const bool& AFinished,
                                        std::unique_lock<std::mutex>& ALock) {
    for (;;) {
        FQueued.wait(ALock, [&] { return AFinished || !FQueue.empty(); });
        if (FQueue.empty())
            return; // the work has finished and nothing is left to serve
        std::shared_ptr<TChange> change = FQueue.front();
        FQueue.pop_front();
        if (FClosed) {
            change->Done = true;
            FFinished.notify_all();
            continue;
        }
        RunOne(change, ALock);
    }
}

void TQtScreenLists::RunServingChanges(const std::function<void()>& AWork) {
    bool finished = false; // guarded by FQueueLock
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            AWork();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(FQueueLock);
        finished = true;
        FQueued.notify_all();
    });
    {
        // The window's thread serves nothing but the queued changes here: no user input, no
        // timers, no re-entered handlers, while the work (a stop) waits for the peer threads.
        std::unique_lock<std::mutex> lock(FQueueLock);
        ServeUntilFinished(finished, lock);
    }
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void TQtScreenLists::Close() {
    {
        std::lock_guard<std::mutex> guard(FQueueLock);
        if (FClosed)
            return;
        FClosed = true;
        for (auto& change : FQueue)
            change->Done = true;
        FQueue.clear();
        FFinished.notify_all();
    }
    FWaker.reset(); // nobody posts to it any more; its pending calls go with it
}

int TQtScreenLists::LineCount(TScreenLog ALog) {
    const QTextDocument& doc = *View(ALog)->document();
    return doc.blockCount() - (EndsWithEmptyBlock(doc) ? 1 : 0);
}

std::string TQtScreenLists::Text(TScreenLog ALog) {
    QString plain = View(ALog)->document()->toPlainText();
    if (!plain.isEmpty() && !plain.endsWith(QLatin1Char('\n')))
        plain += QLatin1Char('\n');
    const QByteArray bytes = plain.toUtf8();
    std::string result;
    result.reserve(static_cast<std::size_t>(bytes.size()) +
                   static_cast<std::size_t>(bytes.count('\n')));
    for (char c : bytes) {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

void TQtScreenLists::RemoveLeadingChars(TScreenLog ALog, std::size_t ACount) {
    QTextDocument& doc = *View(ALog)->document();
    std::size_t left = ACount;
    int pos = 0;
    for (QTextBlock block = doc.begin(); block.isValid() && left > 0; block = block.next()) {
        const QString line = block.text();
        const auto bytes = static_cast<std::size_t>(line.toUtf8().size());
        if (left >= bytes + 2) { // the whole line with its "\r\n"
            left -= bytes + 2;
            pos = block.position() + block.length();
            continue;
        }
        // A cut inside the line, or between its CR and LF, which leaves the line break.
        pos = block.position() + (left <= bytes ? CharsInBytes(line, left) : line.size());
        left = 0;
    }
    QTextCursor cursor(&doc);
    cursor.setPosition(std::min(pos, doc.characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void TQtScreenLists::RemoveFirstLine(TScreenLog ALog) {
    QTextDocument& doc = *View(ALog)->document();
    if (LineCount(ALog) == 0)
        return;
    QTextCursor cursor(&doc);
    if (!cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor))
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void TQtScreenLists::AppendEntry(TScreenLog ALog, const std::string& AText) {
    QPlainTextEdit* view = View(ALog);
    QScrollBar* bar = view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QString entry = QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
    entry.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    entry.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!EndsWithEmptyBlock(*view->document()))
        entry.prepend(QLatin1Char('\n')); // text typed by the user ends without a line break
    cursor.insertText(entry + QLatin1Char('\n'));
    if (atBottom)
        bar->setValue(bar->maximum());
}

void TQtScreenLists::SetUpdatesSuspended(TScreenLog ALog, bool ASuspended) {
    View(ALog)->setUpdatesEnabled(!ASuspended);
}

void TQtScreenLists::Clear(TScreenLog ALog) {
    View(ALog)->clear();
}
