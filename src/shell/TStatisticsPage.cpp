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
#include "store/StoreStats.h"

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
    // A long name keeps its start and its end, and shows whole in its tooltip.
    table->setTextElideMode(Qt::ElideMiddle);
    table->setWordWrap(false);
    // Room for a whole top list, with no row cut off: the chart gives up the height.
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                          static_cast<int>(TDayStats::TopCount) *
                              table->verticalHeader()->defaultSectionSize() +
                          2 * table->frameWidth());
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

// The value axis: at most five steps of 1, 2 or 5 times a power of ten (so every tick label
// is a whole number), the fewest that reach the largest bar.
struct TAxisScale {
    double Top;
    int Steps;
};
TAxisScale AxisScale(std::uint64_t AMax) {
    constexpr double factors[] = {1, 2, 5};
    for (int i = 0;; ++i) {
        const double step = std::pow(10.0, i / 3) * factors[i % 3];
        const double steps = std::max(1.0, std::ceil(static_cast<double>(AMax) / step));
        if (steps <= 5)
            return {steps * step, static_cast<int>(steps)};
    }
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
    CB_Source = new QComboBox(this);
    CB_Source->setObjectName(QStringLiteral("CB_Source"));
    FSourceLabel = new QLabel(QStringLiteral("&From:"), this);
    FSourceLabel->setBuddy(CB_Source);
    auto* top = new QHBoxLayout;
    top->addWidget(dayLabel);
    top->addWidget(DP_Day);
    top->addWidget(FSourceLabel);
    top->addWidget(CB_Source);
    top->addSpacing(16);
    top->addWidget(BuildTotals(), 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(L_Hint);
    layout->addWidget(BuildChart(), 1);
    layout->addWidget(BuildTopLists());
    UpdateTimer = new QTimer(this);
    UpdateTimer->setInterval(UpdateIntervalMs);
    connect(UpdateTimer, &QTimer::timeout, this, &TStatisticsPage::UpdateTimerTimer);
    connect(DP_Day, &QComboBox::currentIndexChanged, this, &TStatisticsPage::DP_DayChange);
    connect(CB_Source, &QComboBox::currentIndexChanged, this, &TStatisticsPage::CB_SourceChange);
    FToday = LogDayOf(Now());
    FWanted.Day = FToday;
    FillSourceList();
    ShowFigures();
}

TStatisticsPage::~TStatisticsPage() {
    FQueue->SetEnabled(false);
    if (FLoad.valid()) {
        FCancel->store(true);
        FLoad.wait(); // stops between two pieces of the file
    }
}

std::function<void(const std::string&, const TFilePlace&)>
TStatisticsPage::OverviewLineSink() const {
    return TLiveHitQueue::SinkOf(FQueue);
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
                               {"Opted out:", "L_OptedOut", &L_OptedOut},
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
    FillSourceList();
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
    if (config->StoreConnection != FStoreConnection) {
        FStoreConnection = config->StoreConnection;
        FInstances.clear();
        if (!FWanted.Store.empty()) {
            FWanted.Store = FStoreConnection; // without a store: the files again
            FWanted.Instance = FStoreConnection.empty() ? std::string() : FWanted.Instance;
            changed = true;
        }
        FillSourceList();
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

void TStatisticsPage::FillSourceList() {
    const bool store = !FStoreConnection.empty();
    const QSignalBlocker blocker(CB_Source);
    CB_Source->clear();
    CB_Source->addItem(QStringLiteral("This instance's files"));
    if (store) {
        // An item's data is the instance ("" for all); the files' item has none.
        CB_Source->addItem(QStringLiteral("Store: all instances"), QString());
        std::vector<std::string> instances = FInstances;
        if (!FWanted.Instance.empty() &&
            std::find(instances.begin(), instances.end(), FWanted.Instance) == instances.end())
            instances.push_back(FWanted.Instance);
        for (const std::string& instance : instances)
            CB_Source->addItem(QStringLiteral("Store: ") + QString::fromStdString(instance),
                               QString::fromStdString(instance));
        if (!FWanted.Store.empty())
            CB_Source->setCurrentIndex(
                CB_Source->findData(QString::fromStdString(FWanted.Instance)));
    }
    CB_Source->setVisible(store);
    FSourceLabel->setVisible(store);
}

void TStatisticsPage::CB_SourceChange() {
    const QVariant instance = CB_Source->currentData();
    FWanted.Store = instance.isValid() ? FStoreConnection : std::string();
    FWanted.Instance = instance.isValid() ? instance.toString().toStdString() : std::string();
    StartLoad();
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
    FLive = FWanted.Day == FToday && FWanted.Store.empty();
    // Switched on before the file is read, so no hit falls between the file and the queue;
    // what the reader saw in the file is passed over by where it ended there.
    FQueue->SetEnabled(FLive);
    (void)FQueue->TakeAll();
    FDroppedSeen = FQueue->Dropped();
    FCancel = std::make_shared<std::atomic<bool>>(false);
    FLoad = std::async(std::launch::async | std::launch::deferred, &TStatisticsPage::LoadDay,
                       FWanted, FLive, FCancel);
    ShowHint();
}

TStatisticsPage::TDayLoad TStatisticsPage::LoadDay(const TWanted& AWanted, bool ALive,
                                                   std::shared_ptr<std::atomic<bool>> ACancel) {
    if (!AWanted.Store.empty())
        return LoadStoreDay(AWanted);
    TDayLoad load;
    load.Day = AWanted.Day;
    load.Path = OverviewFilePath(AWanted.Dir, AWanted.Day);
    load.Stats = std::make_unique<TDayStats>(AWanted.NickNames);
    load.Status =
        ALive ? ReadOverviewFileTo(load.Path, *load.Stats, load.Error, load.ReadTo, ACancel.get())
              : ReadOverviewFile(load.Path, *load.Stats, load.Error, ACancel.get());
    if (load.Status == TReadStatus::Cancelled)
        return load;
    TDayStats before(AWanted.NickNames);
    std::string unused;
    load.DayBeforeRead = ReadOverviewFile(OverviewFilePath(AWanted.Dir, DayBefore(AWanted.Day)),
                                          before, unused, ACancel.get()) == TReadStatus::Read;
    load.DayBefore = before.Summary().Hours;
    return load;
}

TStatisticsPage::TDayLoad TStatisticsPage::LoadStoreDay(const TWanted& AWanted) {
    // Short waits: closing the window waits for this read.
    constexpr std::chrono::seconds ConnectTimeout{5};
    constexpr std::chrono::seconds ReadTimeout{15};
    TDayLoad load;
    load.Day = AWanted.Day;
    load.Path = "the shared store";
    load.Status = TReadStatus::Failed;
    if (TStoreConnection::NamesPassword(AWanted.Store)) {
        load.Error = "[Store] Connection names a password; libpq's password file or PGPASSWORD "
                     "must hold it";
        return load;
    }
    TStoreConnection store;
    TStatsSummary day, before;
    const TLogDay previous = DayBefore(AWanted.Day);
    const auto now = std::chrono::steady_clock::now();
    if (!store.Open(AWanted.Store, now + ConnectTimeout) ||
        !ReadStoreStats(store, {AWanted.Day, AWanted.Day, AWanted.Instance}, now + ReadTimeout,
                        day) ||
        !ReadStoreStats(store, {previous, previous, AWanted.Instance, 0}, now + ReadTimeout,
                        before) ||
        !ReadStoreInstances(store, now + ReadTimeout, load.Instances)) {
        load.Error = store.Error();
        return load;
    }
    load.Status = TReadStatus::Read;
    load.Summary = std::move(day);
    load.DayBefore = before.Hours;
    load.DayBeforeRead = true; // a day without hits in the store is a day of none
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
    FDayBeforeRead = load.DayBeforeRead;
    FStatus = load.Status;
    FPath = load.Path;
    FError = load.Error;
    FReadTo = load.ReadTo;
    FStoreSummary = std::move(load.Summary);
    FStoreReadAt = std::chrono::steady_clock::now();
    if (load.Status == TReadStatus::Read && !FWanted.Store.empty() &&
        load.Instances != FInstances) {
        FInstances = std::move(load.Instances);
        FillSourceList();
    }
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
    if (!FWanted.Store.empty() && FWanted.Day == FToday &&
        std::chrono::steady_clock::now() - FStoreReadAt >=
            std::chrono::milliseconds(StoreRefreshMs))
        StartLoad(); // other instances' hits reach the store, not this window
    TakeLiveHits();
    ShowHint(); // the overview file may have been switched on or off
}

void TStatisticsPage::TakeLiveHits() {
    if (!FLive || !FStats)
        return;
    bool counted = false;
    for (const TLiveHitQueue::TItem& item : FQueue->TakeAll()) {
        if (item.Place.Within(FReadTo))
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
    const TStatsSummary summary = FStoreSummary ? *FStoreSummary
                                  : FStats      ? FStats->Summary()
                                                : TStatsSummary();
    L_Hits->setText(Number(summary.Hits));
    L_PageViews->setText(Number(summary.PageViews));
    L_Visitors->setText(Number(summary.Visitors));
    L_OptedOut->setText(Number(summary.OptedOut));
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
        max = std::max({max, ASummary.Hours[h], FDayBeforeRead ? FDayBefore[h] : 0});
    }
    // A day without a file is no day of zero views: no line then (the hint says so).
    LS_DayBefore->setVisible(FDayBeforeRead);
    const TAxisScale scale = AxisScale(max);
    FAxisY->setRange(0, scale.Top);
    FAxisY->setTickCount(scale.Steps + 1);
}

void TStatisticsPage::ShowHint() {
    QString hint;
    const QString path = QString::fromStdString(DisplayName(FPath));
    if (Loading())
        hint = FWanted.Store.empty() ? QStringLiteral("Reading the log file ...")
                                     : QStringLiteral("Reading the shared store ...");
    else if (FStatus == TReadStatus::Missing)
        hint = FLive ? QStringLiteral("No hits logged today yet.")
                     : QStringLiteral("No log file for this day.");
    else if (FStatus == TReadStatus::Failed)
        hint = QStringLiteral("Cannot read %1: %2").arg(path, QString::fromStdString(FError));
    if (!Loading() && FStats && !FDayBeforeRead)
        hint += QStringLiteral(" No data for the day before.");
    else if (FStoreSummary && FWanted.Day == FToday)
        hint = QStringLiteral("All hits the instances have delivered to the shared store; read "
                              "again every 10 s.");
    if (FLive && !GeneralConfigSnapshot()->OverviewLogToFile)
        hint += QStringLiteral(" The overview log file is off (Logging page), so new hits are "
                               "not counted.");
    hint = hint.trimmed();
    if (L_Hint->text() != hint)
        L_Hint->setText(hint);
    L_Hint->setVisible(!hint.isEmpty());
}
