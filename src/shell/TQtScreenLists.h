// The window's on-screen lists (Memo1, Memo2, SysMemo) behind the tracking service's interface.
// Post: any thread; everything else: the window's thread (the one that created it).
#pragma once

#include <QString>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tracking/TQueuedScreenLists.h"

class QPlainTextEdit;
class QThread;
class QTimer;

class TQtScreenLists : public TQueuedScreenLists, private IScreenView {
public:
    // How often the window shows what was posted. Under load a limited detail log is new at
    // every turn: more turns would only cost the window's thread, with nothing to read.
    static constexpr int ShowIntervalMs = 100;

    // The three text views belong to the window and must outlive Close.
    TQtScreenLists(QPlainTextEdit* AOverview, QPlainTextEdit* ADetail, QPlainTextEdit* AMessages);
    ~TQtScreenLists() override;
    TQtScreenLists(const TQtScreenLists&) = delete;
    TQtScreenLists& operator=(const TQtScreenLists&) = delete;

    // Queues the entry; posted on the window's thread (its own lines: start, stop, messages),
    // it is shown at once with what came before it. Any thread.
    void Post(TScreenLog ALog, std::string AText, int ALimit) override;
    // Shows what was posted so far (the timer does it every ShowIntervalMs).
    void ShowPosted();
    // The whole text of a list, each line followed by "\r\n".
    std::string Text(TScreenLog ALog);
    // Empties one list at once (the window's own "Clear"): of what was posted before, nothing
    // comes later.
    void Clear(TScreenLog ALog);
    // Shows what was posted so far; from then on posted entries are dropped and the text views
    // are no longer touched. Before the views are destroyed.
    void Close();

    // The view the timer shows entries in; for tests of the text model.
    IScreenView& View() { return *this; }

private:
    int LineCount(TScreenLog ALog) override;
    void LineSizes(TScreenLog ALog, std::vector<std::size_t>& ASizes) override;
    void EntryLineSizes(const std::string& AText, std::vector<std::size_t>& ASizes) override;
    void RemoveFirstLines(TScreenLog ALog, std::size_t ACount) override;
    void AppendEntry(TScreenLog ALog, const std::string& AText, std::size_t AFromLine = 0) override;

    QPlainTextEdit* ViewOf(TScreenLog ALog) const;
    // Puts the gathered entries of a list into its text.
    void InsertAppended(TScreenLog ALog);

    // Entries appended but not yet in the text, with the sizes of the lines they make.
    struct TAppending {
        QString Text;
        std::vector<std::size_t> Sizes;
    };
    // The sizes of a list's lines as the view holds them, kept between turns while only this
    // class changes the text (the user may edit it too).
    struct TKnownSizes {
        std::deque<std::size_t> Sizes;
        bool Known = false;
    };

    QPlainTextEdit* FViews[3];
    TAppending FAppending[3];
    TKnownSizes FSizes[3];
    bool FEditing = false; // this class changes a text: its sizes stay known
    QThread* FWindowThread;
    std::unique_ptr<QTimer> FTimer; // shows what was posted; gone after Close
    bool FShowing = false;          // ShowPosted is running: not again from inside
};
