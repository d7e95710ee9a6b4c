#include "shell/TQtScreenLists.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>


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
        if (!FQueue.Closed())
            AChange();
        return;
    }
    // The wake-up is posted under the queue's lock: Close takes it before deleting the waker.
    FQueue.RunAndWait(AChange, [this] { PostServe(); });
}

void TQtScreenLists::PostServe() {
    if (!FServePosted.exchange(true))
        QMetaObject::invokeMethod(
            FWaker.get(), [this] { ServeQueued(); }, Qt::QueuedConnection);
}

void TQtScreenLists::ServeQueued() {
    FServePosted = false;
    // Serve only a turn's worth, so the event loop gets its turn between batches.
    if (FQueue.RunQueued(64) > 0)
        PostServe();
}

void TQtScreenLists::RunServingChanges(const std::function<void()>& AWork) {
    // The window's thread serves nothing but the queued changes here: no user input, no
    // timers, no re-entered handlers, while the work (a stop) waits for the peer threads.
    FQueue.RunServing(AWork);
}

void TQtScreenLists::Close() {
    if (FQueue.Closed())
        return;
    FQueue.Close();
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
