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
#include "shell/AboutDialog.h"
#include "shell/TLoggingPage.h"
#include "shell/TNetworkPage.h"
#include "shell/TQtScreenLists.h"
#include "shell/TSettingsPage.h"
#include "shell/TStatisticsPage.h"
#include "shell/WindowPlacement.h"
#include "shell/sk_BrowseDialog.h"
#include "tracking/TTrackingService.h"

namespace {

constexpr int TrayTipLength = 63;
const char* const UnsavedText = "Configuration changes applied but not saved!";

// The lines of a list field, leaving out empty lines (a line of blanks stays).
std::vector<std::string> NonEmptyLines(const QPlainTextEdit* AField) {
    std::vector<std::string> lines;
    const QStringList all = AField->toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : all)
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    return lines;
}

// The whole list, each line followed by a line break, so the field ends with an empty line.
QString ListText(const std::vector<std::string>& ALines) {
    QString text;
    for (const std::string& line : ALines)
        text += QString::fromStdString(line) + QLatin1Char('\n');
    return text;
}

} // namespace

TMainForm::TMainForm(std::optional<int> APortOverride, TDialogs ADialogs)
    : FDialogs(std::move(ADialogs)), FPortOverride(APortOverride) {
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
    Settings = new TSettingsPage(PageControl1);
    Logging = new TLoggingPage(PageControl1);
    PageControl1->addTab(Settings, QStringLiteral("Settings"));
    PageControl1->addTab(Logging, QStringLiteral("&Logging"));
    Network = new TNetworkPage(PageControl1);
    Network->ChooseFile = FDialogs.ChooseOpenFile;
    PageControl1->addTab(Network, QStringLiteral("Network"));
    Statistics = new TStatisticsPage(PageControl1);
    PageControl1->addTab(Statistics, QStringLiteral("Statistics"));
    setCentralWidget(PageControl1);
    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(StatusBar1, 1);
    AboutDialog = new TKAV_AboutDialog(this);
    setWindowIcon(ProgramIcon());
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
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason AReason) {
                // Linux desktops use a tray icon with a single click, Windows with a double.
                if (AReason == QSystemTrayIcon::Trigger || AReason == QSystemTrayIcon::DoubleClick)
                    RestoreFromTray();
            });
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { QueryEndSession(); });
}

void TMainForm::ConnectSettings() {
    TSettingsPage* s = Settings;
    for (QCheckBox* box :
         {s->cb_AutoStart, s->cb_GotoTNA, s->cb_ResolveHN, s->cb_UseIFM, s->cb_MaxAge,
          s->cb_Private, s->cb_NoCache, s->cb_PNC, s->cb_LastModified, s->cb_Expires, s->CB_UseNN,
          s->CB_LNL, s->CB_LNL1, s->CB_LNL2})
        connect(box, &QCheckBox::toggled, this, &TMainForm::ChangeConfig);
    for (QSpinBox* spin : {s->SE_Port, s->SE_MaxAge, s->SE_LastModified, s->SE_Expires})
        connect(spin, &QSpinBox::valueChanged, this, &TMainForm::ChangeConfig);
    for (QPlainTextEdit* field : {s->Memo_NickNames, s->Memo_NoLogs})
        connect(field, &QPlainTextEdit::textChanged, this, &TMainForm::ChangeConfig);
    connect(Network, &TNetworkPage::Changed, this, &TMainForm::ChangeConfig);
    connect(s->B_StartStop, &QPushButton::clicked, this, &TMainForm::B_StartStopClick);
    connect(s->B_LogDir, &QPushButton::clicked, this, &TMainForm::B_LogDirClick);
}

void TMainForm::ConnectLogging() {
    TLoggingPage* l = Logging;
    for (QCheckBox* box : {l->cb_LogToScreen1, l->cb_LogToFile1, l->CB_LimitScreenLog1,
                           l->cb_LogToScreen2, l->cb_LogToFile2, l->CB_LimitScreenLog2})
        connect(box, &QCheckBox::toggled, this, &TMainForm::ChangeConfig);
    for (QSpinBox* spin : {l->SE_ScreenLogLines1, l->SE_ScreenLogLines2})
        connect(spin, &QSpinBox::valueChanged, this, &TMainForm::ChangeConfig);
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
    PageControl1->setCurrentWidget(Settings);
    LoadSettings();
    SetCaptions(GeneralConfigSnapshot()->AppTitle);
    FScreenLists =
        std::make_shared<TQtScreenLists>(Logging->Memo1, Logging->Memo2, Settings->SysMemo);
    FService = std::make_unique<TTrackingService>(FScreenLists);
    FService->SetOnOverviewLine(Statistics->OverviewLineSink());
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
    TrayIcon->setToolTip(FAppTitle.left(TrayTipLength));
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
    const TSettingsPage& s = *Settings;
    const TLoggingPage& l = *Logging;
    if (FPortOverride && s.SE_Port->value() != FShownOverridePort)
        FPortOverride.reset(); // the user chose a port: it is a setting like any other now
    const int port = PortFromControls();
    std::vector<std::string> nickNames = NonEmptyLines(s.Memo_NickNames);
    std::vector<std::string> noLogs = NonEmptyLines(s.Memo_NoLogs);
    ChangeGeneralConfig([&](TKAV_GeneralConfig& c) {
        c.AutoStart = s.cb_AutoStart->isChecked();
        c.GotoTNA = s.cb_GotoTNA->isChecked();
        c.ServerPort = port;
        c.ResolveHostNames = s.cb_ResolveHN->isChecked();
        c.EvalIfModifiedSince = s.cb_UseIFM->isChecked();
        c.CacheControlMaxAge = s.cb_MaxAge->isChecked();
        c.CacheControlMaxAgeSecs = s.SE_MaxAge->value();
        c.CacheControlPrivate = s.cb_Private->isChecked();
        c.CacheControlNoCache = s.cb_NoCache->isChecked();
        c.PragmaNoCache = s.cb_PNC->isChecked();
        c.LastModified = s.cb_LastModified->isChecked();
        c.LastModifiedDays = s.SE_LastModified->value();
        c.Expires = s.cb_Expires->isChecked();
        c.ExpiresSecs = s.SE_Expires->value();
        c.UseNickNames = s.CB_UseNN->isChecked();
        c.NickNames = std::move(nickNames);
        c.LogNoLogs = s.CB_LNL->isChecked();
        c.OverviewLogNoLogs = s.CB_LNL1->isChecked();
        c.DetailLogNoLogs = s.CB_LNL2->isChecked();
        c.NoLogs = std::move(noLogs);
        c.OverviewLogToScreen = l.cb_LogToScreen1->isChecked();
        c.OverviewLogToFile = l.cb_LogToFile1->isChecked();
        c.OverviewWrapLines = l.cb_WrapLines1->isChecked();
        c.OverviewLimitScreenLog = l.CB_LimitScreenLog1->isChecked();
        c.OverviewScreenLogLines = l.SE_ScreenLogLines1->value();
        c.DetailLogToScreen = l.cb_LogToScreen2->isChecked();
        c.DetailLogToFile = l.cb_LogToFile2->isChecked();
        c.DetailWrapLines = l.cb_WrapLines2->isChecked();
        c.DetailLimitScreenLog = l.CB_LimitScreenLog2->isChecked();
        c.DetailScreenLogLines = l.SE_ScreenLogLines2->value();
        Network->ApplyControls(c);
    });
}

void TMainForm::ShowConfig() {
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    const TKAV_GeneralConfig& c = *config;
    TSettingsPage& s = *Settings;
    TLoggingPage& l = *Logging;
    s.cb_AutoStart->setChecked(c.AutoStart);
    s.cb_GotoTNA->setChecked(c.GotoTNA);
    s.SE_Port->setValue(c.ServerPort);
    s.cb_ResolveHN->setChecked(c.ResolveHostNames);
    s.cb_UseIFM->setChecked(c.EvalIfModifiedSince);
    s.cb_MaxAge->setChecked(c.CacheControlMaxAge);
    s.SE_MaxAge->setValue(c.CacheControlMaxAgeSecs);
    s.cb_Private->setChecked(c.CacheControlPrivate);
    s.cb_NoCache->setChecked(c.CacheControlNoCache);
    s.cb_PNC->setChecked(c.PragmaNoCache);
    s.cb_LastModified->setChecked(c.LastModified);
    s.SE_LastModified->setValue(c.LastModifiedDays);
    s.cb_Expires->setChecked(c.Expires);
    s.SE_Expires->setValue(c.ExpiresSecs);
    s.CB_UseNN->setChecked(c.UseNickNames);
    s.Memo_NickNames->setPlainText(ListText(c.NickNames));
    s.CB_LNL->setChecked(c.LogNoLogs);
    s.CB_LNL1->setChecked(c.OverviewLogNoLogs);
    s.CB_LNL2->setChecked(c.DetailLogNoLogs);
    s.Memo_NoLogs->setPlainText(ListText(c.NoLogs));
    l.cb_LogToScreen1->setChecked(c.OverviewLogToScreen);
    l.cb_LogToFile1->setChecked(c.OverviewLogToFile);
    l.cb_WrapLines1->setChecked(c.OverviewWrapLines);
    l.CB_LimitScreenLog1->setChecked(c.OverviewLimitScreenLog);
    l.SE_ScreenLogLines1->setValue(c.OverviewScreenLogLines);
    l.cb_LogToScreen2->setChecked(c.DetailLogToScreen);
    l.cb_LogToFile2->setChecked(c.DetailLogToFile);
    l.cb_WrapLines2->setChecked(c.DetailWrapLines);
    l.CB_LimitScreenLog2->setChecked(c.DetailLimitScreenLog);
    l.SE_ScreenLogLines2->setValue(c.DetailScreenLogLines);
    Network->ShowConfig(c);
    TLoggingPage::SetWrap(l.Memo1, l.cb_WrapLines1->isChecked());
    TLoggingPage::SetWrap(l.Memo2, l.cb_WrapLines2->isChecked());
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
    FService->Tick(); // counts of Messages lines left out, summed refusals
    StatusBar1->setText(FConfigChanged ? QString::fromLatin1(UnsavedText) : QString());
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
    FDialogs.ShowAbout(*AboutDialog);
}

// ---------------------------------------------------------------- tray

void TMainForm::AddTrayIcon() {
    TrayIcon->setToolTip(FAppTitle.left(TrayTipLength));
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
