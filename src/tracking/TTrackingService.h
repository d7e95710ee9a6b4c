// The tracking service: the HTTP server, its request handler, the hit records and server control.
// Create, StartStopServer, SetLogDir and Shutdown on the front end's thread; AddSysMessage on any.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

#include "base/FilePlace.h"
#include "logging/THostNameCache.h"
#include "tracking/IScreenLists.h"

class TTrackingServiceImpl;

class TTrackingService {
public:
    // Creates the two log writers for the current LogDir (overview ".log", detail ".log2");
    // an empty LogDir means the program directory.
    // Screen entries are posted to AScreen, from any thread, until Shutdown has returned.
    explicit TTrackingService(std::shared_ptr<IScreenLists> AScreen);
    ~TTrackingService(); // runs Shutdown when it has not run
    TTrackingService(const TTrackingService&) = delete;
    TTrackingService& operator=(const TTrackingService&) = delete;

    // Start true while not running starts the server; any other call stops it. Every step is
    // reported in the Messages list; a failed start leaves the service stopped.
    void StartStopServer(bool AStart);
    bool ServerRunning() const;

    // Gives both log writers a new directory at once (empty: the program directory).
    void SetLogDir(const std::string& ADir);
    // The directory the log files go to now, with a trailing '/'.
    std::string LogDirectory() const;

    // The Messages lines after "Program started": the program and log directories, and a
    // warning when no log is on.
    void AddStartupMessages();

    // Writes the notes of the latest settings loads (TakeLoadNotes) to the Messages list; a
    // LogDir that named no directory is told with where the log files go instead.
    void AddLoadNotes();

    // Posts "<long stamp>: <text>" for the Messages list (at most 5001 lines). Any thread.
    void AddSysMessage(const std::string& AText);

    // Writes the Messages lines that have become due (counts of lines left out, summed
    // refusals) and, while the server runs, keeps its TLS certificate in step with the settings
    // and the files (see TTLSCertificateWatch). With KeepLogDays on, removes the older day
    // files of the log directory at the first call, at each day change and when the setting
    // or the directory changes, with one Messages line. The front end calls it from a periodic
    // timer, about once a second or more.
    void Tick();

    // Reports listener failures (no file descriptors, thread creation) as Messages lines.
    // Stops the server if running and detaches the screen lists: peer threads that outlived
    // the stop's wait post no more screen entries but keep their log writers until done.
    void Shutdown();

    // Adds a receiver of each combined line once it is in the overview file, with where in the
    // file it ended (the window's live statistics, the dashboard's today). Added before the
    // first start; peer threads call it, many at once: it must return at once and never wait
    // for the front end.
    void AddOnOverviewLine(
        std::function<void(const std::string& ALine, const TFilePlace& APlace)> AEvent);

    // Port the last successful start listens on (0 when stopped); for tests and --port 0.
    int ListeningPort() const;

    // Both log writers write through AWrite (see TSKX_Logger::SetFileWriteForTesting).
    void
    SetLogFileWriteForTesting(const std::function<ssize_t(int, const char*, std::size_t)>& AWrite);
    // Host names come from ALookup under ALimits (a name server the test controls). Before
    // the first start.
    void SetHostNameLookupForTesting(THostNameCache::TLookup ALookup,
                                     THostNameCache::TLimits ALimits);

private:
    std::shared_ptr<TTrackingServiceImpl> FImpl;
};
