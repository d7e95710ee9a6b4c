// The window's on-screen lists (Memo1, Memo2, SysMemo) behind the tracking service's interface.
// RunOnFrontEnd: any thread; everything else: the window's thread (the one that created it).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tracking/IScreenLists.h"

class QObject;
class QPlainTextEdit;
class QThread;

class TQtScreenLists : public IScreenLists {
public:
    // The three text views belong to the window and must outlive Close.
    TQtScreenLists(QPlainTextEdit* AOverview, QPlainTextEdit* ADetail, QPlainTextEdit* AMessages);
    ~TQtScreenLists() override;
    TQtScreenLists(const TQtScreenLists&) = delete;
    TQtScreenLists& operator=(const TQtScreenLists&) = delete;

    void RunOnFrontEnd(const std::function<void()>& AChange) override;
    void RunServingChanges(const std::function<void()>& AWork) override;

    int LineCount(TScreenLog ALog) override;
    std::string Text(TScreenLog ALog) override;
    void RemoveLeadingChars(TScreenLog ALog, std::size_t ACount) override;
    void RemoveFirstLine(TScreenLog ALog) override;
    void AppendEntry(TScreenLog ALog, const std::string& AText) override;
    void SetUpdatesSuspended(TScreenLog ALog, bool ASuspended) override;

    // Empties one list at once (the window's own "Clear"), without any queued hand-off.
    void Clear(TScreenLog ALog);
    // From now on changes are dropped and every waiting caller returns; the text views are no
    // longer touched. Window's thread, before the views are destroyed.
    void Close();

private:
    struct TChange {
        std::function<void()> Run;
        bool Done = false;
    };

    bool OnWindowThread() const;
    QPlainTextEdit* View(TScreenLog ALog) const;
    void ServeQueued();
    void RunOne(const std::shared_ptr<TChange>& AChange, std::unique_lock<std::mutex>& ALock);
    void ServeUntilFinished(const bool& AFinished, std::unique_lock<std::mutex>& ALock);

    QPlainTextEdit* FViews[3];
    QThread* FWindowThread;
    // Carries the queued calls that make the window's thread serve the queue; deleted by Close.
    std::unique_ptr<QObject> FWaker;
    std::mutex FQueueLock;           // guards FQueue, FClosed, FServePosted and every TChange::Done
    std::condition_variable FQueued; // a change was queued or a served work finished
    std::condition_variable FFinished; // a change was carried out or dropped
    std::deque<std::shared_ptr<TChange>> FQueue;
    bool FClosed = false;
    bool FServePosted = false;
};
