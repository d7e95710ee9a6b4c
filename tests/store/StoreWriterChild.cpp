// A writer in a process of its own, for the test that kills one: queues COUNT test hits, then
// runs until the database holds them and its spool is empty, or until it is killed.
// Arguments: connection, spool directory, instance, COUNT, database timeout in ms.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "store/StoreTestHits.h"
#include "store/TStoreWriter.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: store_writer_child CONNECTION SPOOL INSTANCE COUNT TIMEOUT_MS\n",
                   stderr);
        return 2;
    }
    TStoreWriterOptions options;
    options.Connection = argv[1];
    options.SpoolDir = argv[2];
    options.BatchDelay = std::chrono::milliseconds(20);
    options.DatabaseTimeout = std::chrono::milliseconds(std::stoi(argv[5]));
    options.FirstRetryDelay = std::chrono::milliseconds(50);
    options.LastRetryDelay = std::chrono::milliseconds(200);
    options.OnMessage = [](const std::string& ALine) {
        std::fprintf(stderr, "%s\n", ALine.c_str());
    };
    TStoreWriter writer(options);
    const int count = std::stoi(argv[4]);
    for (int i = 0; i < count; ++i)
        writer.Enqueue(StoreTestHit(i, argv[3]));
    const auto latest = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        const TStoreStatus status = writer.Status();
        if (status.Connected && status.SpoolBytes == 0 &&
            status.Delivered + status.NotDelivered >= static_cast<std::uint64_t>(count))
            break;
        if (std::chrono::steady_clock::now() > latest)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    writer.Stop();
    return 0;
}
