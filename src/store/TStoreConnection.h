// One connection to the shared store's PostgreSQL database, every wait bounded by a deadline:
// a server that is stopped, paused or slow costs the caller at most the time it allowed, and
// the connection is dropped then. Texts reach the server only as bound parameters or COPY data.
// One thread at a time (the writer's, or the reader that made it).
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct pg_conn PGconn;
struct pollfd;

using TStoreDeadline = std::chrono::steady_clock::time_point;
// Rows of a result as text; an SQL NULL is an empty optional.
using TStoreRows = std::vector<std::vector<std::optional<std::string>>>;

class TStoreConnection {
public:
    TStoreConnection() = default;
    ~TStoreConnection();
    TStoreConnection(const TStoreConnection&) = delete;
    TStoreConnection& operator=(const TStoreConnection&) = delete;

    // Connects with a libpq connection string or URI, in UTF-8. False with Error().
    bool Open(const std::string& AConnection, TStoreDeadline ADeadline);
    void Close();
    bool IsOpen() const { return FConn != nullptr; }

    // Runs ASql and waits for all its results; ARows, when given, receives the rows of the last
    // one. With parameters ($1, $2, ... as text) ASql is one statement; without, it may be
    // several. False with Error(); a failure of the connection or the deadline also closes it.
    bool Exec(std::string_view ASql, std::initializer_list<std::string_view> AParams,
              TStoreDeadline ADeadline, TStoreRows* ARows = nullptr);
    bool Exec(std::string_view ASql, TStoreDeadline ADeadline, TStoreRows* ARows = nullptr) {
        return Exec(ASql, {}, ADeadline, ARows);
    }
    // Ends a transaction that a failure left open, keeping that failure's Error().
    void RollBack(TStoreDeadline ADeadline);
    // Runs "COPY ... FROM STDIN" with AData, lines in COPY's text format.
    bool CopyIn(std::string_view ACopy, std::string_view AData, TStoreDeadline ADeadline);

    // The last failure on one line; its SQLSTATE when the server gave one (then the
    // connection may still be open).
    const std::string& Error() const { return FError; }
    const std::string& ErrorState() const { return FErrorState; }
    // The database's encoding ("UTF8", "SQL_ASCII", ...).
    std::string ServerEncoding() const;

    // AWhile runs on the caller's thread about every AEvery while calls wait for the server,
    // so that a server that takes its time does not hold up the caller's other work. It must
    // not use this connection.
    void SetWaitHook(std::function<void()> AWhile, std::chrono::milliseconds AEvery) {
        FWhileWaiting = std::move(AWhile);
        FHookEvery = AEvery;
    }

    // Whether a connection string names a password (they belong in libpq's password file or
    // environment, not in a settings file).
    static bool NamesPassword(const std::string& AConnection);

private:
    // poll() of AEntry until ADeadline, running the wait hook between slices of the wait.
    int Poll(pollfd& AEntry, TStoreDeadline ADeadline);
    bool WaitSocket(bool AWrite, TStoreDeadline ADeadline);
    bool Flush(TStoreDeadline ADeadline);
    bool SendCopyData(std::string_view AData, TStoreDeadline ADeadline);
    bool CollectResults(TStoreDeadline ADeadline, TStoreRows* ARows, bool ACopy);
    bool Broken(const std::string& AWhat);

    PGconn* FConn = nullptr;
    std::string FError;
    std::string FErrorState;
    std::function<void()> FWhileWaiting;
    std::chrono::milliseconds FHookEvery{100};
    std::chrono::steady_clock::time_point FHookDue{};
};
