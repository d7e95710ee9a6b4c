// Runs the main window with both screen logs on at their default limits while wrk loads its
// server, probes the window's event loop with a 10 ms timer, samples memory, then closes the
// window during the load and times the shutdown. Main thread only.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/ProgramDir.h"
#include "shell/TLoggingPage.h"
#include "shell/TMainForm.h"
#include "tracking/TTrackingService.h"

namespace {

constexpr int ProbeMs = 10;
constexpr int TerminateWaitMs = 5000;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

double Percentile(std::vector<double> AValues, double AFraction) {
    if (AValues.empty())
        return 0;
    std::sort(AValues.begin(), AValues.end());
    const auto index =
        static_cast<std::size_t>(AFraction * static_cast<double>(AValues.size() - 1));
    return AValues[index];
}

struct TProbe {
    QElapsedTimer Clock;
    qint64 LastNs = -1;
    std::vector<double> LateMs; // how much later than due each tick came
    long PeakKiB = 0;
    std::vector<long> SamplesKiB;

    void Tick() {
        const qint64 now = Clock.nsecsElapsed();
        if (LastNs >= 0)
            LateMs.push_back(std::max(0.0, (now - LastNs) / 1e6 - ProbeMs));
        LastNs = now;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_load PROGRAM-DIR SECONDS [CONNECTIONS]\n");
        return 2;
    }
    SetProgramDir(argv[1]);
    const int seconds = std::stoi(argv[2]);
    const std::string connections = argc > 3 ? argv[3] : "32";
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TMainForm::TDialogs dialogs;
    dialogs.AskYesNo = [](const QString&) { return true; }; // "Close program?" Yes
    auto form = std::make_unique<TMainForm>(0, dialogs);
    form->show();
    form->B_StartStopClick();
    const int port = form->Service().ListeningPort();
    if (port <= 0)
        return 1;

    // wrk runs past the measured time, so the window is closed while hits still arrive.
    QProcess wrk;
    wrk.setProcessChannelMode(QProcess::MergedChannels);
    wrk.start(QStringLiteral("wrk"), {"-t", "2", "-c", QString::fromStdString(connections), "-d",
                                      QString::number(seconds + 5) + "s", "-H", "Connection: close",
                                      QString("http://127.0.0.1:%1/t.gif").arg(port)});
    if (!wrk.waitForStarted(5000))
        return 1;

    TProbe probe;
    probe.Clock.start();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] { probe.Tick(); });
    tick.start(ProbeMs);
    QTimer memory;
    QObject::connect(&memory, &QTimer::timeout, [&] {
        probe.SamplesKiB.push_back(ResidentKiB());
        probe.PeakKiB = std::max(probe.PeakKiB, probe.SamplesKiB.back());
    });
    memory.start(500);

    qint64 closeMs = -1;
    int memo1 = 0, memo2 = 0;
    QTimer::singleShot(seconds * 1000, [&] {
        tick.stop();
        memory.stop();
        memo1 = form->Logging->Memo1->document()->blockCount();
        memo2 = form->Logging->Memo2->document()->blockCount();
        QElapsedTimer closing;
        closing.start();
        form->close(); // asks "Close program?" (Yes), stops the server under load, closes down
        closeMs = closing.elapsed();
        QCoreApplication::quit();
    });
    QElapsedTimer total;
    total.start();
    app.exec();
    QElapsedTimer teardown;
    teardown.start();
    form.reset();
    const qint64 teardownMs = teardown.elapsed();
    ::kill(static_cast<pid_t>(wrk.processId()), SIGINT); // wrk prints its summary on SIGINT
    wrk.waitForFinished(5000);
    const QString wrkOut = QString::fromLocal8Bit(wrk.readAll());

    std::printf("event-loop lateness of a %d ms timer over %d s (%zu ticks): p50 %.1f ms, "
                "p99 %.1f ms, max %.1f ms\n",
                ProbeMs, seconds, probe.LateMs.size(), Percentile(probe.LateMs, 0.5),
                Percentile(probe.LateMs, 0.99), Percentile(probe.LateMs, 1.0));
    std::printf("resident memory: first %ld MiB, last %ld MiB, peak %ld MiB; screen-log lines at "
                "close: overview %d, details %d\n",
                probe.SamplesKiB.empty() ? 0 : probe.SamplesKiB.front() / 1024,
                probe.SamplesKiB.empty() ? 0 : probe.SamplesKiB.back() / 1024, probe.PeakKiB / 1024,
                memo1 - 1, memo2 - 1);
    std::printf("close under load: %lld ms (limit %d ms), destroying the window %lld ms\n",
                static_cast<long long>(closeMs), TerminateWaitMs + 1000,
                static_cast<long long>(teardownMs));
    for (const QString& line : wrkOut.split('\n'))
        if (line.contains("requests in") || line.contains("Requests/sec") ||
            line.contains("Socket errors"))
            std::printf("wrk: %s\n", line.trimmed().toLocal8Bit().constData());
    const bool ok = Percentile(probe.LateMs, 0.99) < 100 && closeMs >= 0 &&
                    closeMs + teardownMs < TerminateWaitMs + 1000;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
