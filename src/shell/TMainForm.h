// The main window: settings page, screen logs, menu, status bar, tray icon, start-up, shutdown.
// Window's thread only (its screen lists take changes from peer threads through the service).
#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tracking/IScreenLists.h"

class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class TBoundPage;
class TDashboardPage;
class TDashboardService;
class TKAV_AboutDialog;
class TLoggingPage;
class TNetworkPage;
class TPrivacyPage;
class TStorePage;
class TQtScreenLists;
class TSettingsPage;
class TStatisticsPage;
class TTodayHits;
class TTrackingService;

// The window caption and the application title without an AppTitle prefix.
inline constexpr const char* WindowCaption = "sk_KAV - Web-Tracking V1.0";
inline constexpr const char* AppTitleText = "sk_KAV V1.0";

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    // Questions, messages and platform choices; tests replace them to answer without dialogs.
    // Every one left empty gets the real dialog.
    struct TDialogs {
        std::function<bool(const QString& AQuestion)> AskYesNo; // true for Yes
        std::function<void(const QString& AText)> ShowMessage;
        // The file a screen log is saved to, starting in AInitialDir; empty when cancelled.
        std::function<QString(const QString& AInitialDir)> ChooseSaveFile;
        // A file to read (the HTTPS certificate and key), starting at AStart; empty: cancelled.
        std::function<QString(const QString& ATitle, const QString& AStart)> ChooseOpenFile;
        std::function<std::string(const std::string& ATitle, int AFlags,
                                  const std::string& AInitialFolder)>
            BrowseForFolder;
        std::function<void(TKAV_AboutDialog& ADialog)> ShowAbout; // modally
        std::function<bool()> TrayAvailable; // whether the desktop has a notification area
    };

    // Runs FormCreate: loads the settings from ProgramDir and creates the tracking service.
    // APortOverride replaces ServerPort for this run without counting as a change.
    explicit TMainForm(std::optional<int> APortOverride = std::nullopt, TDialogs ADialogs = {});
    ~TMainForm() override;

    // --- settings and screen logs ---
    void ChangeConfig();
    void ApplyControls();
    void ShowConfig();
    void SaveConfigIfChanged(bool AAsk);
    void UpdateTimerTimer();
    void B_StartStopClick();
    void B_LogDirClick();
    void B_Clear1Click();
    void B_Clear2Click();
    void Clear1Click();
    void B_SaveToFile1Click();
    void B_SaveToFile2Click();
    void SavetofileOverView1Click();
    void SaveToFileDetails1Click();
    void cb_WrapLines1Click();
    void cb_WrapLines2Click();
    void SaveConfig1Click();
    void Exit1Click();
    void About1Click();
    void ShowAboutDialog();

    // --- start-up, tray and shutdown ---
    void StartupTimerTimer();
    void MinimizeToTray();
    void AppMinimize();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void RestoreFromTray();
    void TrayIconMessage(QSystemTrayIcon::ActivationReason AReason);
    void Restore1Click();
    void Exit2Click();
    // The desktop session ends (or the program was told to end): closes without the server
    // question; "Save configuration?" is still asked when something changed.
    void QueryEndSession();

    bool Loading() const { return FLoading; }
    bool ConfigChanged() const { return FConfigChanged; }
    bool SessionEnding() const { return FSessionEnding; }
    bool ClosedDown() const { return FClosedDown; }
    // What the task bar and the tray tip show: AppTitle, " - ", AppTitleText, or the latter.
    QString AppTitle() const { return FAppTitle; }
    TTrackingService& Service() { return *FService; }
    TDashboardService& DashboardService() { return *FDashboard; }

    // The pages whose controls edit settings, in tab order.
    const std::vector<TBoundPage*>& BoundPages() const { return FBoundPages; }
    // Brings the tab that holds APage to the front.
    void ShowPage(QWidget* APage);

    // Called once the window has closed down; the program may end then.
    std::function<void()> OnClosed;

    QTabWidget* PageControl1;
    TSettingsPage* Settings;
    TLoggingPage* Logging;
    TNetworkPage* Network;
    TPrivacyPage* Privacy;
    TStorePage* Store;
    TDashboardPage* Dashboard;
    TStatisticsPage* Statistics;
    QLabel* StatusBar1;
    QTimer* StartupTimer;
    QTimer* UpdateTimer;
    QSystemTrayIcon* TrayIcon;
    QMenu* TNAMenu;
    TKAV_AboutDialog* AboutDialog;

protected:
    void closeEvent(QCloseEvent* AEvent) override;
    void changeEvent(QEvent* AEvent) override;
    void showEvent(QShowEvent* AEvent) override;

private:
    void FormCreate();
    void LoadSettings();
    bool FormCloseQuery();
    void CloseDown();
    void BuildPages();
    // Puts APage into a tab of its own, in a scroll area.
    void AddPage(QWidget* APage, const QString& ACaption);
    // The same for a page whose controls edit settings: its changes reach ChangeConfig, and
    // ApplyControls and ShowConfig go through its binding table.
    template <class TPage> TPage* AddBoundPage(TPage* APage, const QString& ACaption) {
        AddPage(APage, ACaption);
        FBoundPages.push_back(APage);
        return APage;
    }
    void BuildMenu();
    void BuildTray();
    void ConnectSettings();
    void ConnectLogging();
    void FillDefaultDialogs();
    void SetCaptions(const std::string& AAppTitle);
    void UpdateTrayTip();
    void RestoreFramePos(const QPoint& AFramePos);
    void KeepFramePos();
    void StartStopServer(bool AStart);
    void UpdateServerControls();
    void SaveScreenLog(TScreenLog ALog);
    void SaveSettings();
    int PortFromControls() const;

    TDialogs FDialogs;
    std::optional<int> FPortOverride; // until the user picks another port
    int FShownOverridePort = 0;       // what SE_Port shows for the override
    int FFilePort = 0;                // ServerPort as loaded, written back while overridden
    bool FLoading = true;
    bool FConfigChanged = false;
    bool FSessionEnding = false;
    bool FInCloseQuery = false;
    bool FClosedDown = false;
    QPoint FWantedFramePos;  // where the saved position puts the frame
    int FFramePosChecks = 0; // checks left once the window is shown and framed
    QString FAppTitle;
    QString FSaveDir;
    std::vector<TBoundPage*> FBoundPages; // in tab order
    std::unique_ptr<TTodayHits> FTodayHits;
    std::shared_ptr<TQtScreenLists> FScreenLists;
    std::unique_ptr<TTrackingService> FService;
    std::unique_ptr<TDashboardService> FDashboard; // beside the service, shut down before it
};
