#include "shell/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSessionManager>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

#include "base/ProgramDir.h"
#include "config/FileText.h"
#include "config/config.h"
#include "dashboard/TDashboardService.h"
#include "shell/AboutDialog.h"
#include "shell/TDashboardPage.h"
#include "shell/TLoggingPage.h"
#include "shell/TNetworkPage.h"
#include "shell/TPrivacyPage.h"
#include "shell/TQtScreenLists.h"
#include "shell/TSettingsPage.h"
#include "shell/TStatisticsPage.h"
#include "shell/TStorePage.h"
#include "shell/TTodayHits.h"
#include "shell/WindowPlacement.h"
#include "shell/sk_BrowseDialog.h"
#include "stats/StatsFile.h"
#include "tracking/TTrackingService.h"

namespace {

constexpr int TrayTipLength = 63;
const char* const UnsavedText = "Configuration changes applied but not saved!";

} // namespace

TMainForm::TMainForm(std::optional<int> APortOverride, TDialogs ADialogs)
    : FDialogs(std::move(ADialogs)), FPortOverride(APortOverride),
      FTodayHits(std::make_unique<TTodayHits>()) {
    FillDefaultDialogs();
    BuildPages();
    BuildMenu();
    BuildTray();
    StartupTimer = new QTimer(this);
    StartupTimer->setInterval(100);
    UpdateTimer = new QTimer(this);
    UpdateTimer->setInterval(250);
    connect(StartupTimer, &QTimer::timeout, this, &TMainForm::StartupTimerTimer);
    connect(UpdateTimer, &QTimer::timeout, this, &TMainForm::UpdateTimerTimer);
    ConnectSettings();
    ConnectLogging();
    resize(994, 696);
    FormCreate();
}

TMainForm::~TMainForm() {
    // Normally CloseDown has run; a window destroyed without closing still stops the server
    // before its screen lists go.
    if (FDashboard)
        FDashboard->Shutdown();
    if (FService)
        FService->Shutdown();
    if (FScreenLists)
        FScreenLists->Close();
}

void TMainForm::FillDefaultDialogs() {
    if (!FDialogs.AskYesNo)
        FDialogs.AskYesNo = [this](const QString& AQuestion) {
            QString text = AQuestion;
            text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            return QMessageBox::question(this, FAppTitle, text,
                                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        };
    if (!FDialogs.ShowMessage)
        FDialogs.ShowMessage = [this](const QString& AText) {
            QMessageBox::warning(isVisible() ? this : nullptr, FAppTitle, AText);
        };
    if (!FDialogs.ChooseSaveFile)
        FDialogs.ChooseSaveFile = [this](const QString& AInitialDir) {
            QFileDialog dialog(this);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setDefaultSuffix(QStringLiteral("txt"));
            dialog.setDirectory(AInitialDir);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return QString();
            return dialog.selectedFiles().constFirst();
        };
    if (!FDialogs.ChooseOpenFile)
        FDialogs.ChooseOpenFile = [this](const QString& ATitle, const QString& AStart) {
            return QFileDialog::getOpenFileName(this, ATitle, AStart,
                                                QStringLiteral("PEM files (*.pem *.crt *.key);;"
                                                               "All files (*)"));
        };
    if (!FDialogs.BrowseForFolder)
        FDialogs.BrowseForFolder = [this](const std::string& ATitle, int AFlags,
                                          const std::string& AInitialFolder) {
            return ::BrowseForFolder(ATitle, AFlags, AInitialFolder, this);
        };
    if (!FDialogs.ShowAbout)
        FDialogs.ShowAbout = [](TKAV_AboutDialog& ADialog) { ADialog.exec(); };
    if (!FDialogs.TrayAvailable)
        FDialogs.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

void TMainForm::BuildPages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    Settings = AddBoundPage(new TSettingsPage, QStringLiteral("Settings"));
    Logging = AddBoundPage(new TLoggingPage, QStringLiteral("&Logging"));
    Network = AddBoundPage(new TNetworkPage, QStringLiteral("Network"));
    Network->ChooseFile = FDialogs.ChooseOpenFile;
    Privacy = AddBoundPage(new TPrivacyPage, QStringLiteral("Privacy"));
    Store = AddBoundPage(new TStorePage, QStringLiteral("Store"));
    Dashboard = AddBoundPage(new TDashboardPage, QStringLiteral("Dashboard"));
    Statistics = new TStatisticsPage;
    AddPage(Statistics, QStringLiteral("Statistics"));
    setCentralWidget(PageControl1);
    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(StatusBar1, 1);
    AboutDialog = new TKAV_AboutDialog(this);
    setWindowIcon(ProgramIcon());
}

// Each page scrolls inside its tab, so the window keeps the size it is given (the stored one)
// however much a page holds.
void TMainForm::AddPage(QWidget* APage, const QString& ACaption) {
    auto* area = new QScrollArea(PageControl1);
    area->setObjectName(APage->objectName() + QStringLiteral("Area"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(APage);
    PageControl1->addTab(area, ACaption);
}

void TMainForm::ShowPage(QWidget* APage) {
    for (int i = 0; i < PageControl1->count(); ++i)
        if (static_cast<QScrollArea*>(PageControl1->widget(i))->widget() == APage)
            PageControl1->setCurrentIndex(i);
}

void TMainForm::BuildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Save Config"), this, &TMainForm::SaveConfig1Click);
    file->addAction(QStringLiteral("E&xit"), this, &TMainForm::Exit1Click);
    QMenu* screenlog = menuBar()->addMenu(QStringLiteral("S&creenlog"));
    screenlog->addAction(QStringLiteral("Clear both"), this, &TMainForm::Clear1Click);
    screenlog->addAction(QStringLiteral("Save to file (Overview)"), this,
                         &TMainForm::SavetofileOverView1Click);
    screenlog->addAction(QStringLiteral("SaveToFile (Details)"), this,
                         &TMainForm::SaveToFileDetails1Click);
    QMenu* help = menuBar()->addMenu(QStringLiteral("?"));
    help->addAction(QStringLiteral("About"), this, &TMainForm::About1Click);
}

void TMainForm::BuildTray() {
    TNAMenu = new QMenu(this);
    TNAMenu->setObjectName(QStringLiteral("TNAMenu"));
    TNAMenu->addAction(QStringLiteral("Restore"), this, &TMainForm::Restore1Click);
    TNAMenu->addSeparator();
    TNAMenu->addAction(QStringLiteral("Exit"), this, &TMainForm::Exit2Click);
    TrayIcon = new QSystemTrayIcon(ProgramIcon(), this);
    TrayIcon->setContextMenu(TNAMenu); // opens at the pointer on a right click
    connect(TrayIcon, &QSystemTrayIcon::activated, this, &TMainForm::TrayIconMessage);
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { QueryEndSession(); });
}

void TMainForm::ConnectSettings() {
    for (TBoundPage* page : FBoundPages)
        connect(page, &TBoundPage::Changed, this, &TMainForm::ChangeConfig);
    connect(Settings->B_StartStop, &QPushButton::clicked, this, &TMainForm::B_StartStopClick);
    connect(Settings->B_LogDir, &QPushButton::clicked, this, &TMainForm::B_LogDirClick);
}

void TMainForm::ConnectLogging() {
    TLoggingPage* l = Logging;
    connect(l->cb_WrapLines1, &QCheckBox::toggled, this, &TMainForm::cb_WrapLines1Click);
    connect(l->cb_WrapLines2, &QCheckBox::toggled, this, &TMainForm::cb_WrapLines2Click);
    connect(l->B_Clear1, &QPushButton::clicked, this, &TMainForm::B_Clear1Click);
    connect(l->B_Clear2, &QPushButton::clicked, this, &TMainForm::B_Clear2Click);
    connect(l->B_SaveToFile1, &QPushButton::clicked, this, &TMainForm::B_SaveToFile1Click);
    connect(l->B_SaveToFile2, &QPushButton::clicked, this, &TMainForm::B_SaveToFile2Click);
}

// ---------------------------------------------------------------- start-up

void TMainForm::FormCreate() {
    FLoading = true;
    FSessionEnding = false;
    SetCaptions({});
    ShowPage(Settings);
    LoadSettings();
    SetCaptions(GeneralConfigSnapshot()->AppTitle);
    FScreenLists =
        std::make_shared<TQtScreenLists>(Logging->Memo1, Logging->Memo2, Settings->SysMemo);
    FService = std::make_unique<TTrackingService>(FScreenLists);
    FService->AddOnOverviewLine(Statistics->OverviewLineSink());
    FService->AddOnOverviewLine(FTodayHits->Sink());
    FDashboard = std::make_unique<TDashboardService>(
        [this](const std::string& AText) { FService->AddSysMessage(AText); });
    FService->AddOnOverviewLine(FDashboard->OverviewLineSink());
    FService->AddSysMessage(std::string(AppTitleText) + " - Program started");
    FService->AddStartupMessages();
    FService->AddLoadNotes();
    FSaveDir = QString::fromStdString(ProgramDir());
    FScreenLists->Clear(TScreenLog::Overview);
    FScreenLists->Clear(TScreenLog::Detail);
    FLoading = false;
    UpdateTimer->start();
    StartupTimer->start();
}

void TMainForm::LoadSettings() {
    if (!LoadConfig()) {
        FDialogs.ShowMessage(QStringLiteral("Error loading configuration, using default values"));
    } else {
        ShowConfig();
        FConfigChanged = false;
        const TWindowBounds bounds = LoadWindowPos(TWindowBounds{0, 0, 373, 819});
        resize(bounds.Width, bounds.Height);
        RestoreFramePos(QPoint(bounds.Left, bounds.Top));
    }
    FFilePort = GeneralConfigSnapshot()->ServerPort;
    if (FPortOverride) {
        const int port = *FPortOverride;
        ChangeGeneralConfig([port](TKAV_GeneralConfig& AConfig) {
            AConfig.ServerPort = port;
            AConfig.PortZeroAllowed = true; // 0 for one run: the system chooses
        });
        Settings->SE_Port->setValue(port); // held within the field's range
        FShownOverridePort = Settings->SE_Port->value();
    }
}

// The saved position is the frame's. An X11 window manager adds the frame only after the
// window is shown, so the position is checked again then: the frame lands where it was, not
// the inside of the window (which put the title bar above the screen), and never off screen.
void TMainForm::RestoreFramePos(const QPoint& AFramePos) {
    FWantedFramePos = PlacedFrameOnScreens(QRect(AFramePos, frameGeometry().size())).topLeft();
    move(FWantedFramePos);
    FFramePosChecks = 2;
}

void TMainForm::showEvent(QShowEvent* AEvent) {
    QMainWindow::showEvent(AEvent);
    if (FFramePosChecks == 0)
        return;
    // Once the window is mapped, and again when a slow window manager has framed it.
    QTimer::singleShot(0, this, &TMainForm::KeepFramePos);
    QTimer::singleShot(300, this, &TMainForm::KeepFramePos);
}

void TMainForm::KeepFramePos() {
    if (FFramePosChecks == 0)
        return;
    --FFramePosChecks;
    const QRect placed = PlacedFrameOnScreens(QRect(FWantedFramePos, frameGeometry().size()));
    if (frameGeometry().topLeft() != placed.topLeft())
        move(placed.topLeft());
}

void TMainForm::SetCaptions(const std::string& AAppTitle) {
    const QString prefix =
        AAppTitle.empty() ? QString() : QString::fromStdString(AAppTitle) + QStringLiteral(" - ");
    setWindowTitle(prefix + QString::fromLatin1(WindowCaption));
    FAppTitle = prefix + QString::fromLatin1(AppTitleText);
    UpdateTrayTip();
}

// The application title, then whether the server runs, on which port, and today's hits (the
// lines of today's overview file, while that file is written).
void TMainForm::UpdateTrayTip() {
    QString tip = FAppTitle.left(TrayTipLength);
    if (!FService || !FService->ServerRunning()) {
        tip += QStringLiteral("\nServer stopped");
    } else {
        tip += QStringLiteral("\nServer running on port %1").arg(FService->ListeningPort());
        const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
        if (config->OverviewLogToFile) {
            FTodayHits->Update(LogDirOf(*config));
            if (const std::optional<std::uint64_t> hits = FTodayHits->Count())
                tip += QStringLiteral(", %1 %2 today")
                           .arg(*hits)
                           .arg(*hits == 1 ? QStringLiteral("hit") : QStringLiteral("hits"));
        }
    }
    if (TrayIcon->toolTip() != tip)
        TrayIcon->setToolTip(tip);
}

void TMainForm::StartupTimerTimer() {
    if (FLoading)
        return;
    StartupTimer->stop();
    if (GeneralConfigSnapshot()->AutoStart) {
        StartStopServer(true);
        MinimizeToTray();
    }
}

// ---------------------------------------------------------------- settings

void TMainForm::ChangeConfig() {
    if (FLoading)
        return;
    FConfigChanged = true;
    ApplyControls();
}

int TMainForm::PortFromControls() const {
    const int shown = Settings->SE_Port->value();
    return FPortOverride && shown == FShownOverridePort ? *FPortOverride : shown;
}

void TMainForm::ApplyControls() {
    if (!FConfigChanged)
        return;
    if (FPortOverride && Settings->SE_Port->value() != FShownOverridePort)
        FPortOverride.reset(); // the user chose a port: it is a setting like any other now
    const int port = PortFromControls();
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) {
        for (const TBoundPage* page : FBoundPages)
            page->ApplyControls(AConfig);
        AConfig.ServerPort = port;
    });
}

void TMainForm::ShowConfig() {
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    for (TBoundPage* page : FBoundPages)
        page->ShowConfig(*config);
}

void TMainForm::SaveConfigIfChanged(bool AAsk) {
    if (!FConfigChanged)
        return;
    ApplyControls();
    if (AAsk && !FDialogs.AskYesNo(QStringLiteral("Save configuration?")))
        return;
    SaveSettings();
    FConfigChanged = false;
}

void TMainForm::SaveSettings() {
    TKAV_GeneralConfig config = *GeneralConfigSnapshot();
    if (FPortOverride)
        config.ServerPort = FFilePort; // the port given for this run is not a setting
    // A failed save is not reported: the settings count as saved all the same.
    (void)SaveConfig(config, DefaultConfigFiles());
}

void TMainForm::UpdateTimerTimer() {
    if (FLoading)
        return;
    FService->Tick();   // counts of Messages lines left out, summed refusals
    FDashboard->Tick(); // follows its settings, whether or not the server runs
    Dashboard->ShowState(QString::fromStdString(FDashboard->LocalAddress()));
    StatusBar1->setText(FConfigChanged ? QString::fromLatin1(UnsavedText) : QString());
    UpdateTrayTip();
}

void TMainForm::SaveConfig1Click() {
    SaveConfigIfChanged(false);
}

// ---------------------------------------------------------------- server and log directory

void TMainForm::StartStopServer(bool AStart) {
    FService->StartStopServer(AStart);
    UpdateServerControls();
}

void TMainForm::UpdateServerControls() {
    const bool running = FService->ServerRunning();
    Settings->B_StartStop->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Start"));
    Settings->SE_Port->setEnabled(!running);
    Network->E_BindAddress->setEnabled(!running); // both take effect at the next start
    UpdateTrayTip();
}

void TMainForm::B_StartStopClick() {
    StartStopServer(!FService->ServerRunning());
}

void TMainForm::B_LogDirClick() {
    std::string folder = FDialogs.BrowseForFolder(
        "Select Directory for Logfiles", BIF_RETURNONLYFSDIRS, GeneralConfigSnapshot()->LogDir);
    if (folder.empty())
        return;
    if (folder.back() != '/')
        folder += '/';
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) { AConfig.LogDir = folder; });
    FService->SetLogDir(folder);
    ChangeConfig();
}

// ---------------------------------------------------------------- screen logs

void TMainForm::B_Clear1Click() {
    FScreenLists->Clear(TScreenLog::Overview);
}
void TMainForm::B_Clear2Click() {
    FScreenLists->Clear(TScreenLog::Detail);
}

void TMainForm::Clear1Click() {
    B_Clear1Click();
    B_Clear2Click();
}

void TMainForm::cb_WrapLines1Click() {
    TLoggingPage::SetWrap(Logging->Memo1, Logging->cb_WrapLines1->isChecked());
    ChangeConfig();
}

void TMainForm::cb_WrapLines2Click() {
    TLoggingPage::SetWrap(Logging->Memo2, Logging->cb_WrapLines2->isChecked());
    ChangeConfig();
}

void TMainForm::SaveScreenLog(TScreenLog ALog) {
    const QString path = FDialogs.ChooseSaveFile(FSaveDir);
    if (path.isEmpty())
        return;
    // Each line followed by CR LF; the file is replaced whole or, on failure, left alone.
    if (!ReplaceFileText(path.toStdString(), FScreenLists->Text(ALog)))
        FDialogs.ShowMessage(QStringLiteral("Error saving file"));
}

void TMainForm::B_SaveToFile1Click() {
    SaveScreenLog(TScreenLog::Overview);
}
void TMainForm::B_SaveToFile2Click() {
    SaveScreenLog(TScreenLog::Detail);
}
void TMainForm::SavetofileOverView1Click() {
    B_SaveToFile1Click();
}
void TMainForm::SaveToFileDetails1Click() {
    B_SaveToFile2Click();
}

// ---------------------------------------------------------------- menu and about

void TMainForm::Exit1Click() {
    close();
}
void TMainForm::About1Click() {
    ShowAboutDialog();
}

void TMainForm::ShowAboutDialog() {
    AboutDialog->setWindowTitle(QString::fromLatin1(AppTitleText));
    AboutDialog->VersionLabel->setText(QString::fromLatin1(WindowCaption));
    AboutDialog->CentreOn(screen());
    FDialogs.ShowAbout(*AboutDialog);
}

// ---------------------------------------------------------------- tray

void TMainForm::AddTrayIcon() {
    UpdateTrayTip();
    TrayIcon->show();
}

void TMainForm::RemoveTrayIcon() {
    TrayIcon->hide();
}

void TMainForm::MinimizeToTray() {
    if (!GeneralConfigSnapshot()->GotoTNA)
        return;
    if (!FDialogs.TrayAvailable()) {
        // No notification area: a hidden window could never be brought back.
        showMinimized();
        return;
    }
    AddTrayIcon();
    hide();
}

void TMainForm::AppMinimize() {
    if (isMinimized() && isVisible())
        MinimizeToTray();
}

void TMainForm::RestoreFromTray() {
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    RemoveTrayIcon();
    show();
}

// Linux desktops use a tray icon with a single click, Windows with a double; the right button's
// menu is the icon's context menu.
void TMainForm::TrayIconMessage(QSystemTrayIcon::ActivationReason AReason) {
    if (AReason == QSystemTrayIcon::Trigger || AReason == QSystemTrayIcon::DoubleClick)
        RestoreFromTray();
}

void TMainForm::Restore1Click() {
    RestoreFromTray();
}
void TMainForm::Exit2Click() {
    close();
}

void TMainForm::changeEvent(QEvent* AEvent) {
    QMainWindow::changeEvent(AEvent);
    if (AEvent->type() == QEvent::WindowStateChange && isMinimized() && !FLoading)
        QTimer::singleShot(0, this, &TMainForm::AppMinimize); // after the minimise is done
}

// ---------------------------------------------------------------- closing

void TMainForm::QueryEndSession() {
    FSessionEnding = true;
    close();
}

void TMainForm::closeEvent(QCloseEvent* AEvent) {
    if (FClosedDown) {
        AEvent->accept();
        return;
    }
    if (FInCloseQuery || !FormCloseQuery()) {
        AEvent->ignore();
        return;
    }
    AEvent->accept();
    if (OnClosed)
        OnClosed();
}

bool TMainForm::FormCloseQuery() {
    FInCloseQuery = true;
    bool canClose = true;
    if (!FSessionEnding && FService->ServerRunning())
        canClose = FDialogs.AskYesNo(
            QStringLiteral("Closing the program will disable sk_KAV-Server!\r\nClose program?"));
    if (canClose) {
        SaveConfigIfChanged(true);
        CloseDown();
    }
    FInCloseQuery = false;
    return canClose;
}

void TMainForm::CloseDown() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    StatusBar1->setText(QStringLiteral("closing sk_KAV - please wait ..."));
    StatusBar1->repaint();
    UpdateTimer->stop();
    StartupTimer->stop();
    StartStopServer(false);
    FDashboard->Shutdown();
    StatusBar1->clear();
    FService->AddSysMessage(std::string(AppTitleText) + " - Program stopped");
    // Peer threads that outlived the stop's wait keep their log writers by shared ownership;
    // from here on they write no screen entries.
    FService->Shutdown();
    FScreenLists->Close();
    const QRect frame = frameGeometry();
    SaveWindowPos(TWindowBounds{frame.left(), frame.top(), height(), width()});
    RemoveTrayIcon();
    QApplication::restoreOverrideCursor();
    FClosedDown = true;
}
