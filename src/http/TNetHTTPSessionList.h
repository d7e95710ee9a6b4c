// The server's sessions under one lock, and the cleaner thread that ends idle ones.
// Any thread may call the list; the cleaner is started and stopped by the server's owner thread.
#pragma once

#include "http/TNetHTTPSession.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using TOnSessionStartEvent = std::function<void(TNetHTTPSession* ASender)>;
using TOnSessionEndEvent = std::function<void(TNetHTTPSession* ASender)>;

class TNetHTTPSessionList {
public:
    TNetHTTPSessionList();
    TNetHTTPSessionList(const TNetHTTPSessionList&) = delete;
    TNetHTTPSessionList& operator=(const TNetHTTPSessionList&) = delete;
    virtual ~TNetHTTPSessionList();

    // Idle time in milliseconds after which a session ends.
    int IdleTime() const { return FIdleTime.load(); }
    void SetIdleTime(int AValue) { FIdleTime.store(AValue); }

    // Set while the server is inactive. OnSessionEnd runs with the list's lock held.
    TOnSessionStartEvent OnSessionStart;
    TOnSessionEndEvent OnSessionEnd;

    // The session with this id (case-insensitive) started from APeerAddress (empty matches any),
    // its LastAccess renewed; expired sessions met on the way are ended. Null when none.
    std::shared_ptr<TNetHTTPSession> FindSession(const std::string& AId,
                                                 const std::string& APeerAddress);
    // A new session for APeerAddress with a fresh 15-character identifier.
    std::shared_ptr<TNetHTTPSession> StartSession(const std::string& APeerAddress);
    // Ends expired sessions (every one with AAll), from the last to the first.
    void EndExpired(bool AAll);
    // Ends and removes every session.
    virtual void ClearSessions();
    int Count() const;

private:
    using TSessions = std::vector<std::shared_ptr<TNetHTTPSession>>;
    void EndAt(size_t AIndex);
    std::string NewSessionId();

    std::atomic<int> FIdleTime{0};
    mutable std::mutex FLock; // guards FSessions, FRandom and every session's LastAccess
    TSessions FSessions;
    std::mt19937 FRandom;
};

// Ends expired sessions once a second until stopped; then ends all that are left.
class TNetHTTPSessionCleanerThread {
public:
    explicit TNetHTTPSessionCleanerThread(TNetHTTPSessionList& AList);
    ~TNetHTTPSessionCleanerThread(); // stops and waits
    TNetHTTPSessionCleanerThread(const TNetHTTPSessionCleanerThread&) = delete;
    TNetHTTPSessionCleanerThread& operator=(const TNetHTTPSessionCleanerThread&) = delete;

    // Asks the thread to stop and waits for it; harmless a second time.
    void StopAndWait();

private:
    void Run() noexcept;

    TNetHTTPSessionList& FList;
    std::mutex FLock; // guards FStop
    std::condition_variable FWake;
    bool FStop = false;
    std::thread FThread;
};
