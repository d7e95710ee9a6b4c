// The window's on-screen lists (Memo1, Memo2, SysMemo) behind the tracking service's interface.
// RunOnFrontEnd: any thread; everything else: the window's thread (the one that created it).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "tracking/IScreenLists.h"
#include "tracking/TChangeQueue.h"

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
    bool OnWindowThread() const;
    QPlainTextEdit* View(TScreenLog ALog) const;
    // Posts one call that makes the window's thread serve the queue, unless one is pending.
    void PostServe();
    void ServeQueued();

    QPlainTextEdit* FViews[3];
    QThread* FWindowThread;
    // Carries the queued calls that make the window's thread serve the queue; deleted by Close.
    std::unique_ptr<QObject> FWaker;
    TChangeQueue FQueue;
    std::atomic<bool> FServePosted{false};
};
