// The "Statistics" page: page views per hour as bars with the day before as a line (when it has
// a file), the totals and four top lists of one day, read from its overview file; for today
// also each new hit as the tracking service logs it. With a shared store set, the day of all
// instances or of one can be read from the database instead (today again every
// StoreRefreshMs). Window's thread only, except the sink it hands out.
#pragma once

#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stats/StatsFile.h"
#include "stats/TDayStats.h"

class QBarSet;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QTableWidget;
class QTimer;
class QValueAxis;
class TLiveHitQueue;

class TStatisticsPage : public QWidget {
    Q_OBJECT

public:
    // How often the page takes the hits handed over and checks for a new day.
    static constexpr int UpdateIntervalMs = 500;
    // How often today is read again from the shared store.
    static constexpr int StoreRefreshMs = 10000;

    explicit TStatisticsPage(QWidget* AParent = nullptr);
    ~TStatisticsPage() override;

    // For TTrackingService::AddOnOverviewLine: keeps each new combined line for the page while
    // it shows today, without ever waiting for the window's thread. Any thread.
    std::function<void(const std::string& ALine, const TFilePlace& APlace)>
    OverviewLineSink() const;

    // Takes the hits handed over since the last tick, and reads the day anew when the day,
    // the log directory or the nickname list has changed.
    void UpdateTimerTimer();
    // The day chosen in DP_Day.
    void DP_DayChange();
    // The source chosen in CB_Source.
    void CB_SourceChange();
    // True while a day's file is being read (on a worker thread).
    bool Loading() const { return FLoad.valid(); }

    QComboBox* DP_Day;
    // "This instance's files", and with a shared store "Store: all instances" and
    // "Store: <instance>" for each instance it holds; hidden without a store.
    QComboBox* CB_Source;
    QLabel* L_Hint;
    QLabel* L_Hits;
    QLabel* L_PageViews;
    QLabel* L_Visitors;
    QLabel* L_OptedOut; // page views recorded under Do-Not-Track
    QLabel* L_Bots;
    QLabel* L_Unreadable;
    QChartView* CV_Hours;
    QBarSet* BS_Today;         // page views per hour of the chosen day
    QLineSeries* LS_DayBefore; // page views per hour of the day before
    QTableWidget* TW_Pages;
    QTableWidget* TW_Sources;
    QTableWidget* TW_Visitors;
    QTableWidget* TW_Browsers;
    QTimer* UpdateTimer;

protected:
    void showEvent(QShowEvent* AEvent) override;
    void hideEvent(QHideEvent* AEvent) override;

private:
    // What a worker thread read for one day.
    struct TDayLoad {
        TLogDay Day;
        TReadStatus Status = TReadStatus::Missing;
        std::string Path;
        std::string Error;
        std::unique_ptr<TDayStats> Stats;
        std::array<std::uint64_t, 24> DayBefore{};
        bool DayBeforeRead = false; // false: no file (or none readable) for the day before
        TFilePlace ReadTo; // handed-over lines that ended within it are in the file's count
        std::optional<TStatsSummary> Summary; // read from the store
        std::vector<std::string> Instances;   // the store's
    };
    struct TWanted {
        TLogDay Day;
        std::string Dir;
        std::vector<std::string> NickNames;
        std::string Store;    // the store's connection when it is read; empty: the files
        std::string Instance; // with Store: its hits only; empty: all instances
    };

    QWidget* BuildTotals();
    QChartView* BuildChart();
    QWidget* BuildTopLists();
    void FillDayList();
    void FillSourceList();
    void StartLoad();
    void FinishLoad();
    void TakeLiveHits();
    bool SettingsOrDayChanged();
    void ShowFigures();
    void ShowChart(const TStatsSummary& ASummary);
    void ShowHint();
    static TDayLoad LoadDay(const TWanted& AWanted, bool ALive,
                            std::shared_ptr<std::atomic<bool>> ACancel);
    static TDayLoad LoadStoreDay(const TWanted& AWanted);

    QChart* FChart = nullptr;
    QValueAxis* FAxisY = nullptr;
    std::shared_ptr<TLiveHitQueue> FQueue;
    TWanted FWanted; // the day shown and the settings it was read with
    TLogDay FToday;
    bool FLive = false; // the day shown is today: handed-over hits count
    std::unique_ptr<TDayStats> FStats;
    std::array<std::uint64_t, 24> FDayBefore{};
    bool FDayBeforeRead = false;
    TReadStatus FStatus = TReadStatus::Missing;
    std::string FPath;
    std::string FError;
    std::future<TDayLoad> FLoad;
    std::shared_ptr<std::atomic<bool>> FCancel;
    bool FLoadAgain = false; // a newer request came while a worker was reading
    TFilePlace FReadTo;
    std::uint64_t FDroppedSeen = 0;
    QLabel* FSourceLabel = nullptr;
    std::string FStoreConnection; // as the settings name it
    std::vector<std::string> FInstances;
    std::optional<TStatsSummary> FStoreSummary; // the day shown, when read from the store
    std::chrono::steady_clock::time_point FStoreReadAt;
};
