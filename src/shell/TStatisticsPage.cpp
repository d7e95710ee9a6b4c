#include "shell/TStatisticsPage.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "config/config.h"
#include "stats/HitRules.h"
#include "stats/TLiveHitQueue.h"

namespace {

QString Number(std::uint64_t AValue) {
    return QString::number(AValue);
}

QLabel* NewFigure(QWidget* AParent, const char* AName) {
    auto* label = new QLabel(QStringLiteral("0"), AParent);
    label->setObjectName(QString::fromLatin1(AName));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QTableWidget* NewTopList(QWidget* AParent, const char* AName, const QString& ACaption) {
    auto* table = new QTableWidget(0, 2, AParent);
    table->setObjectName(QString::fromLatin1(AName));
    table->setHorizontalHeaderLabels({ACaption, QStringLiteral("Views")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    return table;
}

void FillTopList(QTableWidget* ATable, const std::vector<TNameCount>& AList) {
    ATable->setRowCount(static_cast<int>(AList.size()));
    for (int row = 0; row < static_cast<int>(AList.size()); ++row) {
        const TNameCount& entry = AList[static_cast<std::size_t>(row)];
        auto* name = new QTableWidgetItem(QString::fromStdString(entry.Name));
        name->setToolTip(name->text());
        auto* views = new QTableWidgetItem(Number(entry.Views));
        views->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ATable->setItem(row, 0, name);
        ATable->setItem(row, 1, views);
    }
}

// A top for the value axis whose four steps are 1, 2 or 5 times a power of ten, so every
// tick label is a whole number.
double AxisTop(std::uint64_t AMax) {
    constexpr double factors[] = {2, 5, 10};
    double step = 1;
    for (int i = 0; step * 4 < static_cast<double>(AMax); ++i)
        step = std::pow(10.0, i / 3) * factors[i % 3];
    return step * 4;
}

} // namespace

TStatisticsPage::TStatisticsPage(QWidget* AParent)
    : QWidget(AParent), FQueue(std::make_shared<TLiveHitQueue>()) {
    setObjectName(QStringLiteral("TabStatistics"));
    DP_Day = new QComboBox(this);
    DP_Day->setObjectName(QStringLiteral("DP_Day"));
    auto* dayLabel = new QLabel(QStringLiteral("&Day:"), this);
    dayLabel->setBuddy(DP_Day);
    L_Hint = new QLabel(this);
    L_Hint->setObjectName(QStringLiteral("L_Hint"));
    L_Hint->setWordWrap(true);
    auto* top = new QHBoxLayout;
    top->addWidget(dayLabel);
    top->addWidget(DP_Day);
    top->addSpacing(16);
    top->addWidget(BuildTotals(), 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(L_Hint);
    layout->addWidget(BuildChart(), 3);
    layout->addWidget(BuildTopLists(), 2);
    UpdateTimer = new QTimer(this);
    UpdateTimer->setInterval(UpdateIntervalMs);
    connect(UpdateTimer, &QTimer::timeout, this, &TStatisticsPage::UpdateTimerTimer);
    connect(DP_Day, &QComboBox::currentIndexChanged, this, &TStatisticsPage::DP_DayChange);
    FToday = LogDayOf(Now());
    FWanted.Day = FToday;
    ShowFigures();
}

TStatisticsPage::~TStatisticsPage() {
    FQueue->SetEnabled(false);
    if (FLoad.valid()) {
        FCancel->store(true);
        FLoad.wait(); // stops between two pieces of the file
    }
}

std::function<void(const std::string&)> TStatisticsPage::OverviewLineSink() const {
    // The queue is shared, so a peer thread that outlives the window still finds it.
    return [queue = FQueue](const std::string& ALine) { queue->Push(ALine); };
}

QWidget* TStatisticsPage::BuildTotals() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    struct TFigure {
        const char* Caption;
        const char* Name;
        QLabel** Label;
    };
    const TFigure figures[] = {{"Hits:", "L_Hits", &L_Hits},
                               {"Page views:", "L_PageViews", &L_PageViews},
                               {"Visitors:", "L_Visitors", &L_Visitors},
                               {"Bots:", "L_Bots", &L_Bots},
                               {"Unreadable:", "L_Unreadable", &L_Unreadable}};
    for (const TFigure& figure : figures) {
        *figure.Label = NewFigure(box, figure.Name);
        row->addWidget(new QLabel(QString::fromLatin1(figure.Caption), box));
        row->addWidget(*figure.Label);
        row->addSpacing(18);
    }
    row->addStretch(1);
    return box;
}

QChartView* TStatisticsPage::BuildChart() {
    BS_Today = new QBarSet(QStringLiteral("Page views"));
    LS_DayBefore = new QLineSeries;
    LS_DayBefore->setName(QStringLiteral("Day before"));
    QStringList hours;
    for (int hour = 0; hour < 24; ++hour) {
        hours << QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
        BS_Today->append(0);
        LS_DayBefore->append(hour, 0);
    }
    auto* bars = new QBarSeries;
    bars->append(BS_Today);
    FChart = new QChart;
    FChart->addSeries(bars);
    FChart->addSeries(LS_DayBefore);
    auto* axisX = new QBarCategoryAxis;
    axisX->append(hours);
    FChart->addAxis(axisX, Qt::AlignBottom);
    FAxisY = new QValueAxis;
    FAxisY->setLabelFormat(QStringLiteral("%d"));
    FAxisY->setTickCount(5);
    FChart->addAxis(FAxisY, Qt::AlignLeft);
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(bars), static_cast<QAbstractSeries*>(LS_DayBefore)}) {
        series->attachAxis(axisX);
        series->attachAxis(FAxisY);
    }
    FChart->legend()->setAlignment(Qt::AlignTop);
    CV_Hours = new QChartView(FChart, this);
    CV_Hours->setObjectName(QStringLiteral("CV_Hours"));
    CV_Hours->setRenderHint(QPainter::Antialiasing);
    CV_Hours->setMinimumHeight(160);
    return CV_Hours;
}

QWidget* TStatisticsPage::BuildTopLists() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    TW_Pages = NewTopList(box, "TW_Pages", QStringLiteral("Page"));
    TW_Sources = NewTopList(box, "TW_Sources", QStringLiteral("Source"));
    TW_Visitors = NewTopList(box, "TW_Visitors", QStringLiteral("Visitor"));
    TW_Browsers = NewTopList(box, "TW_Browsers", QStringLiteral("Browser"));
    for (QTableWidget* table : {TW_Pages, TW_Sources, TW_Visitors, TW_Browsers})
        row->addWidget(table);
    return box;
}

// ---------------------------------------------------------------- opening and reading

void TStatisticsPage::showEvent(QShowEvent* AEvent) {
    QWidget::showEvent(AEvent);
    SettingsOrDayChanged();
    FillDayList();
    StartLoad();
    UpdateTimer->start();
}

void TStatisticsPage::hideEvent(QHideEvent* AEvent) {
    QWidget::hideEvent(AEvent);
    UpdateTimer->stop();
    // Nobody watches: hits cost nothing more, and the file has them for the next opening.
    FQueue->SetEnabled(false);
    (void)FQueue->TakeAll();
    FLive = false;
}

bool TStatisticsPage::SettingsOrDayChanged() {
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    bool changed = false;
    const TLogDay today = LogDayOf(Now());
    if (today != FToday) {
        if (FWanted.Day == FToday)
            FWanted.Day = today; // today's page follows the day
        FToday = today;
        changed = true;
    }
    std::string dir = LogDirOf(*config);
    if (dir != FWanted.Dir || config->NickNames != FWanted.NickNames) {
        FWanted.Dir = std::move(dir);
        FWanted.NickNames = config->NickNames;
        changed = true;
    }
    return changed;
}

void TStatisticsPage::FillDayList() {
    std::vector<TLogDay> days = ListLogDays(FWanted.Dir);
    if (std::find(days.begin(), days.end(), FToday) == days.end()) {
        days.push_back(FToday);
        std::sort(days.rbegin(), days.rend());
    }
    if (std::find(days.begin(), days.end(), FWanted.Day) == days.end())
        FWanted.Day = FToday; // its file is gone, or the directory changed
    const QSignalBlocker blocker(DP_Day);
    DP_Day->clear();
    for (const TLogDay& day : days) {
        DP_Day->addItem(QString::fromStdString(IsoDayText(day)),
                        QString::fromStdString(FileDayText(day)));
        if (day == FWanted.Day)
            DP_Day->setCurrentIndex(DP_Day->count() - 1);
    }
}

void TStatisticsPage::DP_DayChange() {
    TLogDay day;
    if (!ParseLogDay(DP_Day->currentData().toString().toStdString(), day))
        return;
    FWanted.Day = day;
    StartLoad();
}

void TStatisticsPage::StartLoad() {
    if (FLoad.valid()) {
        FCancel->store(true); // the running reader stops soon; then this request is read
        FLoadAgain = true;
        return;
    }
    FLoadAgain = false;
    FLive = FWanted.Day == FToday;
    // Switched on before the file is read, so no hit falls between the file and the queue;
    // what is pushed before the reader reaches the end is in the file and is passed over.
    FQueue->SetEnabled(FLive);
    (void)FQueue->TakeAll();
    FDroppedSeen = FQueue->Dropped();
    FCancel = std::make_shared<std::atomic<bool>>(false);
    FLoad = std::async(std::launch::async | std::launch::deferred, &TStatisticsPage::LoadDay,
                       FWanted, FLive, FQueue, FCancel);
    ShowHint();
}

TStatisticsPage::TDayLoad TStatisticsPage::LoadDay(const TWanted& AWanted, bool ALive,
                                                   std::shared_ptr<TLiveHitQueue> AQueue,
                                                   std::shared_ptr<std::atomic<bool>> ACancel) {
    TDayLoad load;
    load.Day = AWanted.Day;
    load.Path = OverviewFilePath(AWanted.Dir, AWanted.Day);
    load.Stats = std::make_unique<TDayStats>(AWanted.NickNames);
    load.Status = ReadOverviewFile(load.Path, *load.Stats, load.Error, ACancel.get());
    // A line is written to the file before it is handed over, so every line numbered below
    // this one is in what was just read. (Only a hit whose write ends in the instant between
    // the last read and this line could be counted twice.)
    load.FirstLiveSeq = ALive ? AQueue->NextSeq() : 0;
    if (load.Status == TReadStatus::Cancelled)
        return load;
    TDayStats before(AWanted.NickNames);
    std::string unused;
    (void)ReadOverviewFile(OverviewFilePath(AWanted.Dir, DayBefore(AWanted.Day)), before, unused,
                           ACancel.get());
    load.DayBefore = before.Summary().Hours;
    return load;
}

void TStatisticsPage::FinishLoad() {
    TDayLoad load = FLoad.get();
    if (FLoadAgain) {
        StartLoad();
        return;
    }
    FStats = std::move(load.Stats);
    FDayBefore = load.DayBefore;
    FStatus = load.Status;
    FPath = load.Path;
    FError = load.Error;
    FFirstLiveSeq = load.FirstLiveSeq;
    TakeLiveHits();
    ShowFigures();
}

// ---------------------------------------------------------------- live hits

void TStatisticsPage::UpdateTimerTimer() {
    if (SettingsOrDayChanged()) {
        FillDayList();
        StartLoad();
    }
    if (FLoad.valid()) {
        if (FLoad.wait_for(std::chrono::seconds(0)) != std::future_status::timeout)
            FinishLoad();
        return;
    }
    TakeLiveHits();
    ShowHint(); // the overview file may have been switched on or off
}

void TStatisticsPage::TakeLiveHits() {
    if (!FLive || !FStats)
        return;
    bool counted = false;
    for (const TLiveHitQueue::TItem& item : FQueue->TakeAll()) {
        if (item.Seq < FFirstLiveSeq)
            continue;
        FStats->AddLine(item.Line);
        counted = true;
    }
    if (FQueue->Dropped() != FDroppedSeen) {
        StartLoad(); // the window fell behind; the lines it missed are in the file
        return;
    }
    if (!counted)
        return;
    FStatus = TReadStatus::Read; // the file exists now
    ShowFigures();
}

// ---------------------------------------------------------------- showing

void TStatisticsPage::ShowFigures() {
    const TStatsSummary summary = FStats ? FStats->Summary() : TStatsSummary();
    L_Hits->setText(Number(summary.Hits));
    L_PageViews->setText(Number(summary.PageViews));
    L_Visitors->setText(Number(summary.Visitors));
    L_Bots->setText(Number(summary.Bots));
    L_Unreadable->setText(Number(summary.Unreadable));
    ShowChart(summary);
    FillTopList(TW_Pages, summary.Pages);
    FillTopList(TW_Sources, summary.Sources);
    FillTopList(TW_Visitors, summary.VisitorNames);
    FillTopList(TW_Browsers, summary.Browsers);
    ShowHint();
}

void TStatisticsPage::ShowChart(const TStatsSummary& ASummary) {
    std::uint64_t max = 0;
    for (int hour = 0; hour < 24; ++hour) {
        const auto h = static_cast<std::size_t>(hour);
        BS_Today->replace(hour, static_cast<qreal>(ASummary.Hours[h]));
        LS_DayBefore->replace(hour, hour, static_cast<qreal>(FDayBefore[h]));
        max = std::max({max, ASummary.Hours[h], FDayBefore[h]});
    }
    FAxisY->setRange(0, AxisTop(max));
}

void TStatisticsPage::ShowHint() {
    QString hint;
    const QString path = QString::fromStdString(DisplayName(FPath));
    if (Loading())
        hint = QStringLiteral("Reading the log file ...");
    else if (FStatus == TReadStatus::Missing)
        hint = FLive ? QStringLiteral("No hits logged today yet.")
                     : QStringLiteral("No log file for this day.");
    else if (FStatus == TReadStatus::Failed)
        hint = QStringLiteral("Cannot read %1: %2").arg(path, QString::fromStdString(FError));
    if (FLive && !GeneralConfigSnapshot()->OverviewLogToFile)
        hint += QStringLiteral(" The overview log file is off (Logging page), so new hits are "
                               "not counted.");
    hint = hint.trimmed();
    if (L_Hint->text() != hint)
        L_Hint->setText(hint);
    L_Hint->setVisible(!hint.isEmpty());
}
