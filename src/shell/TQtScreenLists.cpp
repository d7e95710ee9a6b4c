#include "shell/TQtScreenLists.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

namespace {

// The bytes of ALine in UTF-8, counted without converting it.
std::size_t Utf8Size(QStringView ALine) {
    std::size_t size = 0;
    for (qsizetype i = 0; i < ALine.size(); ++i) {
        const char16_t c = ALine.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < ALine.size() &&
            QChar::isLowSurrogate(ALine.at(i + 1).unicode())) {
            size += 4;
            ++i;
        } else {
            size += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
    }
    return size;
}

bool EndsWithEmptyBlock(const QTextDocument& ADoc) {
    return ADoc.lastBlock().length() <= 1; // only the block's own separator
}

} // namespace

TQtScreenLists::TQtScreenLists(QPlainTextEdit* AOverview, QPlainTextEdit* ADetail,
                               QPlainTextEdit* AMessages)
    : FViews{AOverview, ADetail, AMessages}, FWindowThread(QThread::currentThread()),
      FTimer(std::make_unique<QTimer>()) {
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { ShowPosted(); });
    for (int i = 0; i < 3; ++i)
        QObject::connect(FViews[i]->document(), &QTextDocument::contentsChange, FTimer.get(),
                         [this, i](int, int, int) {
                             if (!FEditing)
                                 FSizes[i].Known = false;
                         });
    FTimer->start(ShowIntervalMs);
}

TQtScreenLists::~TQtScreenLists() {
    Close();
}

QPlainTextEdit* TQtScreenLists::ViewOf(TScreenLog ALog) const {
    return FViews[static_cast<int>(ALog)];
}

void TQtScreenLists::Post(TScreenLog ALog, std::string AText, int ALimit) {
    TQueuedScreenLists::Post(ALog, std::move(AText), ALimit);
    if (QThread::currentThread() == FWindowThread)
        ShowPosted();
}

void TQtScreenLists::ShowPosted() {
    if (!FTimer || FShowing)
        return;
    FShowing = true;
    try {
        ShowQueued(*this);
        for (TScreenLog log : {TScreenLog::Overview, TScreenLog::Detail, TScreenLog::Messages})
            InsertAppended(log);
    } catch (...) {
        // Out of memory while showing: what was taken is lost, the window goes on.
    }
    FShowing = false;
}

void TQtScreenLists::Close() {
    ShowPosted();
    TQueuedScreenLists::Close();
    FTimer.reset();
}

int TQtScreenLists::LineCount(TScreenLog ALog) {
    const QTextDocument& doc = *ViewOf(ALog)->document();
    return doc.blockCount() - (EndsWithEmptyBlock(doc) ? 1 : 0) +
           static_cast<int>(FAppending[static_cast<int>(ALog)].Sizes.size());
}

void TQtScreenLists::LineSizes(TScreenLog ALog, std::vector<std::size_t>& ASizes) {
    InsertAppended(ALog);
    TKnownSizes& known = FSizes[static_cast<int>(ALog)];
    if (!known.Known) {
        known.Sizes.clear();
        const QTextDocument& doc = *ViewOf(ALog)->document();
        for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
            known.Sizes.push_back(Utf8Size(block.text()));
        if (EndsWithEmptyBlock(doc))
            known.Sizes.pop_back(); // the empty block after the last line break is no line
        known.Known = true;
    }
    ASizes.insert(ASizes.end(), known.Sizes.begin(), known.Sizes.end());
}

void TQtScreenLists::EntryLineSizes(const std::string& AText, std::vector<std::size_t>& ASizes) {
    // CR LF, CR and LF each end a line, and so does the entry's end.
    std::size_t size = 0;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] != '\r' && AText[i] != '\n') {
            ++size;
            continue;
        }
        if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n')
            ++i;
        ASizes.push_back(size);
        size = 0;
    }
    ASizes.push_back(size);
}

std::string TQtScreenLists::Text(TScreenLog ALog) {
    ShowPosted();
    QString plain = ViewOf(ALog)->document()->toPlainText();
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

// Inside an edit block: the cursor then leaves the lines' layout alone, which it would
// otherwise make for every line it passes.
void TQtScreenLists::RemoveFirstLines(TScreenLog ALog, std::size_t ACount) {
    InsertAppended(ALog);
    if (ACount == 0)
        return;
    QTextDocument& doc = *ViewOf(ALog)->document();
    const QTextBlock next = ACount < static_cast<std::size_t>(LineCount(ALog))
                                ? doc.findBlockByNumber(static_cast<int>(ACount))
                                : QTextBlock();
    QTextCursor cursor(&doc);
    FEditing = true;
    cursor.beginEditBlock();
    if (next.isValid())
        cursor.setPosition(next.position(), QTextCursor::KeepAnchor);
    else
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    FEditing = false;
    std::deque<std::size_t>& sizes = FSizes[static_cast<int>(ALog)].Sizes;
    sizes.erase(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(
                                                   next.isValid() ? std::min(ACount, sizes.size())
                                                                  : sizes.size()));
}

// Entries are gathered and go into the text in one insertion, when anything else is asked of
// the list: inserting costs the text view much more per call than per line.
void TQtScreenLists::AppendEntry(TScreenLog ALog, const std::string& AText, std::size_t AFromLine) {
    TAppending& appending = FAppending[static_cast<int>(ALog)];
    QString entry = QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
    entry.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    entry.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    entry += QLatin1Char('\n');
    qsizetype start = 0;
    std::size_t line = 0;
    for (qsizetype from = 0; from < entry.size(); ++line) {
        const qsizetype end = entry.indexOf(QLatin1Char('\n'), from);
        if (line < AFromLine)
            start = end + 1;
        else
            appending.Sizes.push_back(Utf8Size(QStringView(entry).mid(from, end - from)));
        from = end + 1;
    }
    appending.Text += QStringView(entry).mid(start);
}

void TQtScreenLists::InsertAppended(TScreenLog ALog) {
    TAppending& appending = FAppending[static_cast<int>(ALog)];
    if (appending.Text.isEmpty())
        return;
    QPlainTextEdit* view = ViewOf(ALog);
    QScrollBar* bar = view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!EndsWithEmptyBlock(*view->document()))
        appending.Text.prepend(QLatin1Char('\n')); // text typed by the user ends without one
    FEditing = true;
    cursor.beginEditBlock(); // no layout of the lines inserted (see RemoveFirstLines)
    cursor.insertText(appending.Text);
    cursor.endEditBlock();
    FEditing = false;
    std::deque<std::size_t>& sizes = FSizes[static_cast<int>(ALog)].Sizes;
    sizes.insert(sizes.end(), appending.Sizes.begin(), appending.Sizes.end());
    appending.Sizes.clear();
    appending.Text.clear();
    if (atBottom)
        bar->setValue(bar->maximum());
}

void TQtScreenLists::Clear(TScreenLog ALog) {
    ShowPosted();
    ViewOf(ALog)->clear();
}
