// The window's screen lists: the text model the trimming relies on, and the hand-off of
// changes from other threads to the window's thread.
#include <QPlainTextEdit>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "shell/TQtScreenLists.h"

class TestScreenLists : public QObject {
    Q_OBJECT

private:
    QPlainTextEdit FOverview, FDetail, FMessages;
    std::unique_ptr<TQtScreenLists> FLists;

private slots:
    void init() {
        FOverview.clear();
        FDetail.clear();
        FMessages.clear();
        FLists = std::make_unique<TQtScreenLists>(&FOverview, &FDetail, &FMessages);
    }
    void cleanup() { FLists.reset(); }

    void EntriesBecomeLinesWithCrLf() {
        TQtScreenLists& l = *FLists;
        QCOMPARE(l.LineCount(TScreenLog::Overview), 0);
        QCOMPARE(l.Text(TScreenLog::Overview), std::string());
        l.AppendEntry(TScreenLog::Overview, "one");
        l.AppendEntry(TScreenLog::Overview, "\r\ntwo\r\nthree");
        QCOMPARE(l.LineCount(TScreenLog::Overview), 4);
        QCOMPARE(l.Text(TScreenLog::Overview), std::string("one\r\n\r\ntwo\r\nthree\r\n"));
        // Text typed by the user without a line break still gets its own line.
        FDetail.setPlainText(QStringLiteral("typed"));
        l.AppendEntry(TScreenLog::Detail, "hit");
        QCOMPARE(l.Text(TScreenLog::Detail), std::string("typed\r\nhit\r\n"));
        QCOMPARE(l.LineCount(TScreenLog::Messages), 0);
    }

    void RemoveLeadingCharsCountsCrLfAsTwo_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("rest");
        QTest::newRow("nothing") << 0 << "ab\r\ncd\r\nef\r\n";
        QTest::newRow("inside a line") << 1 << "b\r\ncd\r\nef\r\n";
        QTest::newRow("before CR") << 2 << "\r\ncd\r\nef\r\n";
        QTest::newRow("between CR and LF") << 3 << "\r\ncd\r\nef\r\n";
        QTest::newRow("whole line") << 4 << "cd\r\nef\r\n";
        QTest::newRow("into the second") << 5 << "d\r\nef\r\n";
        QTest::newRow("everything") << 12 << "";
        QTest::newRow("more than everything") << 100 << "";
    }
    void RemoveLeadingCharsCountsCrLfAsTwo() {
        QFETCH(int, count);
        QFETCH(QString, rest);
        for (const char* entry : {"ab", "cd", "ef"})
            FLists->AppendEntry(TScreenLog::Overview, entry);
        FLists->RemoveLeadingChars(TScreenLog::Overview, static_cast<std::size_t>(count));
        QCOMPARE(QString::fromStdString(FLists->Text(TScreenLog::Overview)), rest);
    }

    void RemoveLeadingCharsCountsUtf8Bytes() {
        FLists->AppendEntry(TScreenLog::Overview, "\xc3\xa4x"); // "äx": 3 bytes
        FLists->AppendEntry(TScreenLog::Overview, "y");
        FLists->RemoveLeadingChars(TScreenLog::Overview, 2);
        QCOMPARE(FLists->Text(TScreenLog::Overview), std::string("x\r\ny\r\n"));
        FLists->RemoveFirstLine(TScreenLog::Overview);
        QCOMPARE(FLists->Text(TScreenLog::Overview), std::string("y\r\n"));
        FLists->RemoveFirstLine(TScreenLog::Overview);
        FLists->RemoveFirstLine(TScreenLog::Overview);
        QCOMPARE(FLists->LineCount(TScreenLog::Overview), 0);
    }

    // Peer threads wait for their changes; the window's thread clears the log meanwhile: every
    // entry appended after the clear is there, none is lost or duplicated.
    void ClearWhileThreadsAppendLosesNoLaterEntry() {
        constexpr int Threads = 4, PerThread = 200;
        std::atomic<int> done{0};
        std::atomic<bool> cleared{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i) {
                    // Halfway, each thread waits for the clear, so every thread still has
                    // entries to append after it, whatever the scheduling.
                    while (i == PerThread / 2 && !cleared)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    FLists->RunOnFrontEnd([&, t, i] {
                        FLists->AppendEntry(TScreenLog::Overview, std::to_string(t * 1000 + i));
                    });
                }
                ++done;
            });
        QTRY_VERIFY_WITH_TIMEOUT(FLists->LineCount(TScreenLog::Overview) > 50, 10000);
        FLists->Clear(TScreenLog::Overview);
        cleared = true;
        QTRY_COMPARE_WITH_TIMEOUT(done.load(), Threads, 20000);
        for (auto& thread : threads)
            thread.join();
        // Each thread's entries after the clear form an unbroken run up to its last one.
        const QStringList lines = FOverview.toPlainText().split('\n', Qt::SkipEmptyParts);
        for (int t = 0; t < Threads; ++t) {
            std::vector<int> seen;
            for (const QString& line : lines)
                if (line.toInt() / 1000 == t)
                    seen.push_back(line.toInt() % 1000);
            QVERIFY(!seen.empty());
            QCOMPARE(seen.back(), PerThread - 1);
            for (std::size_t i = 1; i < seen.size(); ++i)
                QCOMPARE(seen[i], seen[i - 1] + 1);
        }
    }

    // A stop runs on another thread and waits for peer threads that wait for the window: the
    // window's thread serves their changes, so it all finishes at once instead of timing out.
    void RunServingChangesServesWaitingThreads() {
        std::atomic<bool> release{false};
        std::thread peer([&] {
            while (!release)
                std::this_thread::yield();
            FLists->RunOnFrontEnd([&] { FLists->AppendEntry(TScreenLog::Detail, "peer"); });
        });
        QElapsedTimer timer;
        timer.start();
        FLists->RunServingChanges([&] {
            release = true;
            FLists->RunOnFrontEnd([&] { FLists->AppendEntry(TScreenLog::Messages, "stopping"); });
            peer.join(); // the peer's change must be served while this work waits
        });
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(FLists->Text(TScreenLog::Detail), std::string("peer\r\n"));
        QCOMPARE(FLists->Text(TScreenLog::Messages), std::string("stopping\r\n"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 FLists->RunServingChanges([] { throw std::runtime_error("x"); }));
    }

    void CloseReleasesWaitingCallersAndDropsLaterChanges() {
        std::atomic<int> returned{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&] {
                FLists->RunOnFrontEnd([&] { FLists->AppendEntry(TScreenLog::Overview, "x"); });
                ++returned;
            });
        FLists->Close(); // without serving: the queued changes are dropped
        for (auto& thread : threads)
            thread.join();
        QCOMPARE(returned.load(), 3);
        bool ran = false;
        std::thread late([&] { FLists->RunOnFrontEnd([&] { ran = true; }); });
        late.join();
        FLists->RunOnFrontEnd([&] { ran = true; });
        QVERIFY(!ran);
    }
};

QTEST_MAIN(TestScreenLists)
#include "TestScreenLists.moc"
