// What live counting costs a hit: the real main window with the overview file on and both
// screen logs off, loaded by wrk in pairs of rounds with the Statistics page closed (the
// Settings page shown) and open (today shown, every new line handed over and counted), the
// order turning from pair to pair so a drifting machine favours neither. Prints requests/s of
// each round, the median ratio open/closed over the pairs, and the CPU time that handing over
// and counting one line takes, measured apart from the noise of the load. Main thread only.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/ProgramDir.h"
#include "shell/TMainForm.h"
#include "shell/TSettingsPage.h"
#include "shell/TStatisticsPage.h"
#include "stats/TDayStats.h"
#include "stats/TLiveHitQueue.h"
#include "tracking/TTrackingService.h"

namespace {

// Runs wrk while the event loop keeps serving the window; its requests/s, or -1.
double RunWrk(int APort, int ASeconds, const QString& AConnections) {
    QProcess wrk;
    wrk.setProcessChannelMode(QProcess::MergedChannels);
    wrk.start(QStringLiteral("wrk"),
              {"-t", "2", "-c", AConnections, "-d", QString::number(ASeconds) + "s", "-H",
               "Connection: close", QString("http://127.0.0.1:%1/t.gif?page=%2Fhome").arg(APort)});
    if (!wrk.waitForStarted(5000))
        return -1;
    QEventLoop loop;
    QObject::connect(&wrk, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot((ASeconds + 30) * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const QString out = QString::fromLocal8Bit(wrk.readAll());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("Requests/sec:\\s+([0-9.]+)")).match(out);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

void WaitUntilRead(TStatisticsPage& APage) {
    QElapsedTimer waited;
    waited.start();
    while ((APage.Loading() || !APage.isVisible()) && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// CPU microseconds per line to push a combined line through the queue and count it, the
// whole of what live counting adds to a hit (on its peer thread and on the window's).
double CountingMicrosPerLine() {
    const std::string line =
        "127.0.0.1 - - [08/Dec/2026:10:00:00 +0100] \"GET /t.gif page=%2Fhome HTTP/1.1\" 200 43 "
        "\"http://shop.example/\" \"Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 "
        "Firefox/120.0\"";
    constexpr int lines = 200000;
    TLiveHitQueue queue;
    queue.SetEnabled(true);
    TDayStats stats;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; i += 1000) {
        for (int j = 0; j < 1000; ++j)
            queue.Push(line);
        for (const TLiveHitQueue::TItem& item : queue.TakeAll())
            stats.AddLine(item.Line);
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / lines;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: stats_live_load PROGRAM-DIR SECONDS PAIRS [CONNECTIONS]\n");
        return 2;
    }
    SetProgramDir(argv[1]);
    const int seconds = std::stoi(argv[2]);
    const int pairs = std::stoi(argv[3]);
    const QString connections = argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("32");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TMainForm::TDialogs dialogs;
    dialogs.AskYesNo = [](const QString&) { return true; };
    TMainForm form(0, dialogs);
    form.show();
    form.B_StartStopClick();
    const int port = form.Service().ListeningPort();
    if (port <= 0)
        return 1;

    std::vector<double> ratios;
    double closedSum = 0, openSum = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        double rps[2] = {0, 0}; // [closed, open]
        for (int step = 0; step < 2; ++step) {
            const bool pageOpen = (step == 1) != (pair % 2 == 1);
            if (pageOpen) {
                form.ShowPage(form.Statistics);
                WaitUntilRead(*form.Statistics); // reading the day so far is not a hit's cost
            } else {
                form.ShowPage(form.Settings);
            }
            const double r = RunWrk(port, seconds, connections);
            if (r <= 0)
                return 1;
            rps[pageOpen ? 1 : 0] = r;
            std::printf("pair %d  page %-6s  %10.0f req/s\n", pair + 1,
                        pageOpen ? "open" : "closed", r);
            std::fflush(stdout);
        }
        ratios.push_back(rps[1] / rps[0]);
        closedSum += rps[0];
        openSum += rps[1];
    }
    form.close();
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    const double micros = CountingMicrosPerLine();
    const double closedRps = closedSum / pairs;
    std::printf("page closed %.0f req/s, page open %.0f req/s (means of %d rounds each)\n",
                closedRps, openSum / pairs, pairs);
    std::printf("median ratio open/closed over %d pairs: %.3f (%+.1f %%; limit -2 %%)\n", pairs,
                median, (median - 1) * 100);
    std::printf("handing over and counting one line: %.2f us of CPU = %.2f %% of the %.0f us "
                "that one request takes at the closed rate on %d cores\n",
                micros, 100 * micros / (1e6 * QThread::idealThreadCount() / closedRps),
                1e6 * QThread::idealThreadCount() / closedRps, QThread::idealThreadCount());
    return 0;
}
