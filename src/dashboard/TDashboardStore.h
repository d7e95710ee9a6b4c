// TDashboardStore: the shared store as the dashboard reads it, on the dashboard's peer
// threads, through a few connections kept open between requests. At most MaxReaders requests
// read at once, each waiting at most WaitSeconds for its turn, so a crowd at the share link
// cannot open a connection each. Any thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/TStoreConnection.h"

class TDashboardStore {
public:
    static constexpr int MaxReaders = 3;
    // For a turn, and to connect; a read of a range gets ReadSeconds.
    static constexpr int WaitSeconds = 10;
    static constexpr int ReadSeconds = 30;

    using TRead = std::function<bool(TStoreConnection& AConnection, TStoreDeadline ADeadline)>;

    // Runs ARead on a connection to the database AConnection names (opened when none is
    // free). False with AError set when no turn came in time, the connection string names a
    // password, the database cannot be reached or ARead failed.
    bool Read(const std::string& AConnection, const TRead& ARead, std::string& AError);

private:
    struct TIdle {
        std::string Connection;
        std::unique_ptr<TStoreConnection> Store;
    };

    std::mutex FLock; // guards FReaders and FIdle
    std::condition_variable FTurn;
    int FReaders = 0;
    std::vector<TIdle> FIdle; // at most MaxReaders
};
