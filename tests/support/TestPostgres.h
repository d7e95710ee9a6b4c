// A PostgreSQL server of the test's own: a new cluster in a temporary directory, reached only
// through a Unix socket there, run as the unprivileged user "postgres" when the test runs as
// root. Making one takes seconds, so a test program makes one and its tests share it, each in
// a database of its own. The test's thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"

class TTestPostgres {
public:
    // Why no server can be made here (its programs are missing), or empty.
    static std::string MissingReason();

    // Makes the cluster and starts it; throws std::runtime_error with the server's log.
    TTestPostgres();
    // Stops the server (also a paused one) and removes the cluster.
    ~TTestPostgres();
    TTestPostgres(const TTestPostgres&) = delete;
    TTestPostgres& operator=(const TTestPostgres&) = delete;

    // A new empty database; its libpq connection string.
    std::string MakeDatabase(const std::string& AName);
    std::string Connection(const std::string& ADatabase = "postgres") const;

    void Stop();   // pg_ctl stop -m fast
    void Start();  // pg_ctl start, waiting until it takes connections
    void Pause();  // SIGSTOP to the server and every process of it: it answers nothing
    void Resume(); // SIGCONT to them all

    // The rows of a query, each row's fields joined by '|' (NULL as empty text); throws on
    // failure. Not while paused.
    std::vector<std::string> Query(const std::string& ADatabase, const std::string& ASql) const;
    // The first field of the first row.
    std::string Value(const std::string& ADatabase, const std::string& ASql) const;

private:
    void Run(const std::vector<std::string>& AArguments) const;
    std::vector<int> Processes() const;

    TempDir FTemp;
    std::string FDir; // socket and cluster, writable by the server's user
    std::string FBin; // the server's programs
    int FPort = 0;
    bool FPaused = false;
};

// The server of the whole test program, made when a test first needs it; none where its
// programs are missing (MissingReason).
TTestPostgres* SharedTestPostgres();

// Skips the test with a clear line where no server can be made.
#define SKIP_WITHOUT_POSTGRES()                                                                    \
    if (!SharedTestPostgres())                                                                     \
    GTEST_SKIP() << "no PostgreSQL server: " << TTestPostgres::MissingReason()
