// The window's screen lists: the text model the trimming relies on, and the entries that
// other threads post for the window's thread to show.
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "shell/TQtScreenLists.h"
#include "tracking/TMemoryScreenLists.h"

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
        IScreenView& v = FLists->View();
        QCOMPARE(v.LineCount(TScreenLog::Overview), 0);
        QCOMPARE(FLists->Text(TScreenLog::Overview), std::string());
        v.AppendEntry(TScreenLog::Overview, "one");
        v.AppendEntry(TScreenLog::Overview, "\r\ntwo\r\nthree");
        QCOMPARE(v.LineCount(TScreenLog::Overview), 4);
        QCOMPARE(FLists->Text(TScreenLog::Overview), std::string("one\r\n\r\ntwo\r\nthree\r\n"));
        // Text typed by the user without a line break still gets its own line.
        FDetail.setPlainText(QStringLiteral("typed"));
        v.AppendEntry(TScreenLog::Detail, "hit");
        QCOMPARE(FLists->Text(TScreenLog::Detail), std::string("typed\r\nhit\r\n"));
        QCOMPARE(v.LineCount(TScreenLog::Messages), 0);
    }

    // The trimming sees each line by its UTF-8 bytes, entries split as the view shows them (a
    // closing line break makes an empty line), and an entry may be shown from any line on.
    void LinesAreSizedAndShownAsTheTrimmingSeesThem() {
        IScreenView& v = FLists->View();
        v.AppendEntry(TScreenLog::Overview, "\xc3\xa4x");                        // "äx": 3 bytes
        v.AppendEntry(TScreenLog::Overview, "\xf0\x9f\x98\x80\xe2\x82\xac\r\n"); // 4 and 3
        v.AppendEntry(TScreenLog::Overview, "skipped\rshown\nalso", 1);
        std::vector<std::size_t> sizes;
        v.LineSizes(TScreenLog::Overview, sizes);
        QCOMPARE(sizes, (std::vector<std::size_t>{3, 7, 0, 5, 4}));
        QCOMPARE(FLists->Text(TScreenLog::Overview),
                 std::string("\xc3\xa4x\r\n\xf0\x9f\x98\x80\xe2\x82\xac\r\n\r\nshown\r\nalso\r\n"));
        sizes.clear();
        v.EntryLineSizes("\xc3\xa4x\r\n", sizes);
        v.EntryLineSizes("", sizes);
        QCOMPARE(sizes, (std::vector<std::size_t>{3, 0, 0}));
        v.RemoveFirstLines(TScreenLog::Overview, 3);
        QCOMPARE(FLists->Text(TScreenLog::Overview), std::string("shown\r\nalso\r\n"));
        QTextCursor typing(FOverview.document());
        typing.movePosition(QTextCursor::End);
        typing.insertText(QStringLiteral("typed")); // a last line without a break
        sizes.clear();
        v.LineSizes(TScreenLog::Overview, sizes); // the user's edit counts too
        QCOMPARE(sizes, (std::vector<std::size_t>{5, 4, 5}));
        v.RemoveFirstLines(TScreenLog::Overview, 3);
        QCOMPARE(v.LineCount(TScreenLog::Overview), 0);
    }

    // Threads post while the window's thread is busy elsewhere (it runs no event loop here):
    // none of them waits for it. The window's timer then shows every entry, each thread's in
    // the order it posted them.
    void PostingNeverWaitsForTheWindow() {
        constexpr int Threads = 4, PerThread = 200;
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i)
                    FLists->Post(TScreenLog::Overview, std::to_string(t * 1000 + i), 0);
            });
        for (auto& thread : threads)
            thread.join();
        QCOMPARE(FLists->View().LineCount(TScreenLog::Overview), 0);
        QTRY_COMPARE_WITH_TIMEOUT(FLists->View().LineCount(TScreenLog::Overview),
                                  Threads * PerThread, 10000);
        const QStringList lines = FOverview.toPlainText().split('\n', Qt::SkipEmptyParts);
        int next[Threads] = {};
        for (const QString& line : lines)
            QCOMPARE(line.toInt() % 1000, next[line.toInt() / 1000]++);
    }

    // The window's thread clears the log while threads post: every entry posted after the
    // clear is shown, none is lost or shown twice.
    void ClearWhileThreadsPostLosesNoLaterEntry() {
        constexpr int Threads = 4, PerThread = 200;
        std::atomic<bool> cleared{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i) {
                    // Halfway, each thread waits for the clear, so every thread still has
                    // entries to post after it, whatever the scheduling.
                    while (i == PerThread / 2 && !cleared)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    FLists->Post(TScreenLog::Overview, std::to_string(t * 1000 + i), 0);
                }
            });
        QTRY_VERIFY_WITH_TIMEOUT(FLists->View().LineCount(TScreenLog::Overview) > 50, 10000);
        FLists->Clear(TScreenLog::Overview);
        cleared = true;
        for (auto& thread : threads)
            thread.join();
        FLists->ShowPosted();
        // Each thread's entries after the clear form an unbroken run up to its last one.
        const QStringList lines = FOverview.toPlainText().split('\n', Qt::SkipEmptyParts);
        for (int t = 0; t < Threads; ++t) {
            std::vector<int> seen;
            for (const QString& line : lines)
                if (line.toInt() / 1000 == t)
                    seen.push_back(line.toInt() % 1000);
            QVERIFY(!seen.empty());
            QCOMPARE(seen.back(), PerThread - 1);
            QVERIFY(seen.front() <= PerThread / 2);
            for (std::size_t i = 1; i < seen.size(); ++i)
                QCOMPARE(seen[i], seen[i - 1] + 1);
        }
    }

    // The window trims a limited log by the same rule as the lists in memory do, whether its
    // entries come one at a time (its own, shown at once) or many between two timer turns.
    void LimitedLogsAreTrimmedAsInMemory() {
        TMemoryScreenLists memory;
        auto post = [&](int AEntry) {
            const std::string text =
                "entry " + std::to_string(AEntry) + (AEntry % 3 ? "" : "\r\nsecond line");
            FLists->Post(TScreenLog::Overview, text, 100);
            memory.Post(TScreenLog::Overview, text, 100);
        };
        for (int i = 0; i < 150; ++i) {
            post(i);
            QCOMPARE(FLists->View().LineCount(TScreenLog::Overview),
                     memory.LineCount(TScreenLog::Overview));
        }
        QCOMPARE(FLists->Text(TScreenLog::Overview), memory.Text(TScreenLog::Overview));
        std::thread burst([&] {
            for (int i = 150; i < 1000; ++i)
                post(i);
        });
        burst.join();
        FLists->ShowPosted();
        QCOMPARE(FLists->Text(TScreenLog::Overview), memory.Text(TScreenLog::Overview));
        QVERIFY(FLists->View().LineCount(TScreenLog::Overview) <= 111);
    }

    // The window's own lines show at once; Close shows what other threads posted before it,
    // and nothing after it.
    void CloseShowsWhatCameBeforeAndNothingAfter() {
        FLists->Post(TScreenLog::Messages, "own", 0);
        QCOMPARE(FMessages.toPlainText(), QStringLiteral("own\n"));
        std::thread before([&] { FLists->Post(TScreenLog::Messages, "before", 0); });
        before.join();
        FLists->Close();
        std::thread late([&] { FLists->Post(TScreenLog::Messages, "late", 0); });
        late.join();
        FLists->ShowPosted();
        QTest::qWait(3 * TQtScreenLists::ShowIntervalMs);
        QCOMPARE(FMessages.toPlainText(), QStringLiteral("own\nbefore\n"));
    }
};

QTEST_MAIN(TestScreenLists)
#include "TestScreenLists.moc"
