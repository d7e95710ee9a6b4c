// The "Statistics" page on the offscreen platform: totals, chart and top lists from the file
// and from live hits, the page closed and opened again, the day picker, and a new day.
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QValueAxis>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <sys/stat.h>

#include "ShellTestSupport.h"
#include "base/DateTime.h"
#include "shell/TSettingsPage.h"
#include "shell/TStatisticsPage.h"
#include "stats/StatsFile.h"
#include "store/StoreTestHits.h"
#include "support/LoopbackClient.h"
#include "support/TestPostgres.h"
#include "tracking/TTrackingService.h"

namespace {

using namespace std::chrono_literals;

const char* const Firefox = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Firefox/120.0";

// A line of the overview file at the given hour.
std::string LogLine(int AHour, const std::string& AHost, const std::string& AParams,
                    const std::string& AAgent) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:10:00", AHour);
    return AHost + " - - [08/Dec/2026:" + time + " +0100] \"GET /t.gif " + AParams +
           " HTTP/1.1\" 200 43 \"\" \"" + AAgent + "\"\r\n";
}

// Sends one request from another thread while this thread keeps serving the window.
std::string Hit(int APort, const std::string& ATarget, const std::string& AAgent = Firefox) {
    auto answer = std::async(std::launch::async, [=] {
        return Exchange(APort, "GET " + ATarget + " HTTP/1.1\r\nUser-Agent: " + AAgent + "\r\n\r\n",
                        10s);
    });
    QDeadlineTimer deadline(15000);
    while (answer.wait_for(5ms) != std::future_status::ready && !deadline.hasExpired())
        QCoreApplication::processEvents();
    return answer.get();
}

int BarSum(const TStatisticsPage& APage) {
    int sum = 0;
    for (int hour = 0; hour < 24; ++hour)
        sum += static_cast<int>(APage.BS_Today->at(hour));
    return sum;
}

QString Cell(const QTableWidget* ATable, int ARow, int AColumn) {
    const QTableWidgetItem* item = ATable->item(ARow, AColumn);
    return item ? item->text() : QString();
}

// A clock the test moves by hand (milliseconds since 1970).
std::atomic<long long> gClockMs{0};
std::chrono::system_clock::time_point HandClock() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(gClockMs.load()));
}
long long LocalMs(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond) {
    std::tm parts{};
    parts.tm_year = AYear - 1900;
    parts.tm_mon = AMonth - 1;
    parts.tm_mday = ADay;
    parts.tm_hour = AHour;
    parts.tm_min = AMinute;
    parts.tm_sec = ASecond;
    parts.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&parts)) * 1000;
}

// A program directory whose overview files go to logs/, the overview file on, one nickname.
struct TStatsFixture : TFormFixture {
    TStatsFixture() {
        mkdir((Dir.Path() + "logs").c_str(), 0755);
        Dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + Dir.Path() +
                                        "logs/\r\n[OverviewLog]\r\nLogToFile=1\r\n");
        Dir.WriteFile("sk_KAV.NN", "127.0.0.1=Office PC\r\n");
        for (const char* name : {"1x1.gif", "index.htm", "robots.txt"})
            Dir.WriteFile(name, "x");
    }
    void WriteDay(const TLogDay& ADay, const std::string& AText) {
        Dir.WriteFile("logs/" + FileDayText(ADay) + ".log", AText);
    }
    // The window shown with its server running.
    TMainForm& Open() {
        TMainForm& form = Create();
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            qWarning("window not exposed");
        form.B_StartStopClick();
        return form;
    }
};

} // namespace

class TestStatisticsPage : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetClockForTesting(nullptr); }

    // With a shared store the page reads today of all instances or of one from it, and the
    // files again when asked.
    void TheStoreShowsAllInstancesOrOne() {
        if (!SharedTestPostgres())
            QSKIP(("no PostgreSQL server: " + TTestPostgres::MissingReason()).c_str());
        const std::string connection = SharedTestPostgres()->MakeDatabase("statistics");
        std::string error;
        QVERIFY2(PutStoreHitsNow(connection, "north", 3, "n", error), error.c_str());
        QVERIFY2(PutStoreHitsNow(connection, "south", 2, "s", error), error.c_str());
        TStatsFixture f;
        f.WriteDay(LogDayOf(Now()), LogLine(3, "10.0.0.7", "", Firefox));
        f.Dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + f.Dir.Path() +
                                          "logs/\r\n[OverviewLog]\r\nLogToFile=1\r\n[Store]\r\n"
                                          "Connection=" +
                                          connection + "\r\n");
        TMainForm& form = f.Create();
        form.show();
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("1"), 10000);
        QVERIFY(page.CB_Source->isVisible());
        page.CB_Source->setCurrentIndex(1); // all instances
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("5"), 20000);
        QCOMPARE(Cell(page.TW_Pages, 0, 0), QStringLiteral("/n"));
        QTRY_VERIFY_WITH_TIMEOUT(page.CB_Source->findText(QStringLiteral("Store: south")) > 0,
                                 10000);
        QCOMPARE(page.CB_Source->currentIndex(), 1);
        page.CB_Source->setCurrentIndex(page.CB_Source->findText(QStringLiteral("Store: south")));
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("2"), 20000);
        QCOMPARE(page.CB_Source->currentText(), QStringLiteral("Store: south"));
        page.CB_Source->setCurrentIndex(0);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("1"), 10000);
    }

    void LiveHitsUpdateTotalsChartAndLists() {
        TStatsFixture f;
        const TLogDay today = LogDayOf(Now());
        f.WriteDay(today, LogLine(3, "10.0.0.7", "", Firefox) +
                              LogLine(3, "10.0.0.7", "", "ExampleBot/1.0"));
        f.WriteDay(DayBefore(today),
                   LogLine(5, "10.0.0.7", "", Firefox) + LogLine(5, "10.0.0.8", "", Firefox));
        TMainForm& form = f.Open();
        const int port = form.Service().ListeningPort();
        QVERIFY(port > 0);
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_Hits->text(), QStringLiteral("2"), 10000);
        QCOMPARE(page.L_PageViews->text(), QStringLiteral("1"));
        QCOMPARE(page.L_Bots->text(), QStringLiteral("1"));
        QCOMPARE(page.BS_Today->at(3), 1.0);
        QCOMPARE(page.LS_DayBefore->at(5).y(), 2.0);
        QVERIFY(page.LS_DayBefore->isVisible());
        QCOMPARE(page.DP_Day->currentText(), QString::fromStdString(IsoDayText(today)));

        for (int i = 0; i < 2; ++i)
            QVERIFY(!Hit(port, "/t.gif?page=%2Fhome&ref=https%3A%2F%2FSearch.example%2Fq").empty());
        QVERIFY(!Hit(port, "/robots.txt").empty());
        // With the screen logs off a hit needs nothing from the window's thread: this one is
        // answered while that thread does nothing but wait for it.
        QVERIFY(Exchange(port, "GET /t.gif?page=%2Fhome HTTP/1.1\r\nUser-Agent: Edg/1\r\n\r\n", 10s)
                    .rfind("HTTP/1.1 200", 0) == 0);

        QTRY_COMPARE_WITH_TIMEOUT(page.L_Hits->text(), QStringLiteral("6"), 10000);
        QCOMPARE(page.L_PageViews->text(), QStringLiteral("4"));
        QCOMPARE(page.L_Visitors->text(), QStringLiteral("3"));
        QCOMPARE(BarSum(page), 4);
        QCOMPARE(Cell(page.TW_Pages, 0, 0), QStringLiteral("/home"));
        QCOMPARE(Cell(page.TW_Pages, 0, 1), QStringLiteral("3"));
        QCOMPARE(Cell(page.TW_Sources, 0, 0), QStringLiteral("(direct)"));
        QCOMPARE(Cell(page.TW_Sources, 1, 0), QStringLiteral("search.example"));
        QCOMPARE(Cell(page.TW_Visitors, 0, 0), QStringLiteral("Office PC"));
        QCOMPARE(Cell(page.TW_Visitors, 0, 1), QStringLiteral("3"));
        QCOMPARE(Cell(page.TW_Browsers, 0, 0), QStringLiteral("Firefox"));
        QVERIFY(page.L_Hint->isHidden());
        // The tray tip counts the same day: the two lines of the file and the four hits since.
        QTRY_COMPARE_WITH_TIMEOUT(
            form.TrayIcon->toolTip().section(QLatin1Char('\n'), 1),
            QStringLiteral("Server running on port %1, 6 hits today").arg(port), 5000);
    }

    // The axis ends a round step above the tallest bar, a day without a file draws no line,
    // and each top list shows its ten rows whole at the window's default size.
    void ChartAndTopListsFitTheirFigures() {
        TStatsFixture f;
        std::string day;
        for (int i = 0; i < 93; ++i)
            day += LogLine(10, "10.0.0." + std::to_string(i % 12),
                           "page=p" + std::to_string(i % 12), Firefox);
        const std::string longName = "/blog/" + std::string(150, 'x') + "/the-end";
        for (int i = 0; i < 20; ++i)
            day += LogLine(11, "10.0.0.1", "page=" + longName, Firefox);
        f.WriteDay(LogDayOf(Now()), day);
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("113"), 10000);
        const auto* axis = qobject_cast<QValueAxis*>(page.CV_Hours->chart()->axes(Qt::Vertical)[0]);
        QCOMPARE(axis->max(), 100.0);
        QCOMPARE(axis->tickCount(), 6);
        QVERIFY(!page.LS_DayBefore->isVisible());
        QVERIFY(page.L_Hint->text().contains(QStringLiteral("No data for the day before.")));
        for (const QTableWidget* table :
             {page.TW_Pages, page.TW_Sources, page.TW_Visitors, page.TW_Browsers})
            QVERIFY(table->viewport()->height() >=
                    10 * table->verticalHeader()->defaultSectionSize());
        QCOMPARE(page.TW_Pages->rowCount(), 10);
        QCOMPARE(page.TW_Pages->textElideMode(), Qt::ElideMiddle);
        const auto named =
            page.TW_Pages->findItems(QString::fromStdString(longName), Qt::MatchExactly);
        QCOMPARE(named.size(), 1);
        QCOMPARE(named[0]->toolTip(), QString::fromStdString(longName));
    }

    void ClosedPageIsReadAgainWhenOpened() {
        TStatsFixture f;
        TMainForm& form = f.Open();
        const int port = form.Service().ListeningPort();
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_VERIFY_WITH_TIMEOUT(!page.Loading(), 10000);
        QCOMPARE(page.L_Hint->text(),
                 QStringLiteral("No hits logged today yet. No data for the day before."));

        form.ShowPage(form.Settings); // closed: hits are not handed over
        QVERIFY(!Hit(port, "/t.gif?page=a").empty());
        QVERIFY(!Hit(port, "/t.gif?page=b").empty());
        QTest::qWait(2 * TStatisticsPage::UpdateIntervalMs);
        QCOMPARE(page.L_PageViews->text(), QStringLiteral("0"));

        form.ShowPage(&page); // opened: read from the file
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("2"), 10000);
        QVERIFY(!Hit(port, "/t.gif?page=a").empty());
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("3"), 10000);
        QCOMPARE(Cell(page.TW_Pages, 0, 0), QStringLiteral("a"));
        QCOMPARE(Cell(page.TW_Pages, 0, 1), QStringLiteral("2"));
    }

    void DayPickerOffersTheDaysWithAFile() {
        TStatsFixture f;
        const TLogDay today = LogDayOf(Now());
        f.WriteDay({2020, 3, 1}, LogLine(9, "a", "page=x", Firefox) + LogLine(9, "b", "", Firefox));
        f.WriteDay({2020, 2, 29}, LogLine(7, "a", "", Firefox));
        f.Dir.WriteFile("logs/notes.log", "");
        TMainForm& form = f.Open();
        const int port = form.Service().ListeningPort();
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_VERIFY_WITH_TIMEOUT(!page.Loading(), 10000);
        QStringList days;
        for (int i = 0; i < page.DP_Day->count(); ++i)
            days << page.DP_Day->itemText(i);
        QCOMPARE(days, (QStringList{QString::fromStdString(IsoDayText(today)),
                                    QStringLiteral("2020-03-01"), QStringLiteral("2020-02-29")}));

        page.DP_Day->setCurrentIndex(1);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("2"), 10000);
        QCOMPARE(page.BS_Today->at(9), 2.0);
        QCOMPARE(page.LS_DayBefore->at(7).y(), 1.0);
        QVERIFY(!Hit(port, "/t.gif").empty()); // today's hit: not on this day's page
        QTest::qWait(2 * TStatisticsPage::UpdateIntervalMs);
        QCOMPARE(page.L_PageViews->text(), QStringLiteral("2"));
    }

    void NewDayStartsTheDayAnew() {
        TStatsFixture f;
        gClockMs = LocalMs(2026, 12, 8, 23, 59, 58);
        SetClockForTesting(HandClock);
        f.WriteDay({2026, 12, 8}, LogLine(23, "a", "", Firefox) + LogLine(23, "b", "", Firefox));
        TMainForm& form = f.Open();
        TStatisticsPage& page = *form.Statistics;
        form.ShowPage(&page);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("2"), 10000);
        QCOMPARE(page.DP_Day->currentText(), QStringLiteral("2026-12-08"));

        gClockMs = LocalMs(2026, 12, 9, 0, 0, 1);
        QTRY_COMPARE_WITH_TIMEOUT(page.DP_Day->currentText(), QStringLiteral("2026-12-09"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page.L_PageViews->text(), QStringLiteral("0"), 10000);
        QCOMPARE(page.LS_DayBefore->at(23).y(), 2.0);
        QCOMPARE(page.DP_Day->count(), 2);
    }
};

QTEST_MAIN(TestStatisticsPage)
#include "TestStatisticsPage.moc"
