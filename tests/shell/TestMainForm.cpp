// The main window on the offscreen platform: settings round trips, screen-log commands, server
// control, start-up, tray and closing, with every question and dialog answered by a script.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ShellTestSupport.h"
#include "config/config.h"
#include "shell/AboutDialog.h"
#include "shell/TBoundPage.h"
#include "shell/TLoggingPage.h"
#include "shell/TSettingsPage.h"
#include "shell/WindowPlacement.h"
#include "support/LoopbackClient.h"
#include "tracking/TTrackingService.h"

namespace {

const QString Unsaved = QStringLiteral("Configuration changes applied but not saved!");

// Sends one request from another thread while this thread serves the window's changes.
std::string Hit(int APort, const std::string& ADocument) {
    auto answer = std::async(std::launch::async, [=] {
        return Exchange(APort, "GET " + ADocument + " HTTP/1.0\r\n\r\n", std::chrono::seconds(10));
    });
    QDeadlineTimer deadline(15000);
    while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready &&
           !deadline.hasExpired())
        QCoreApplication::processEvents();
    return answer.get();
}

// The text of every "*.log" file in ADir.
std::string OverviewFiles(const std::string& ADir) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(ADir))
        if (entry.path().extension() == ".log") {
            std::ifstream in(entry.path(), std::ios::binary);
            all += std::string(std::istreambuf_iterator<char>(in), {});
        }
    return all;
}

// A listening socket on every address, so the server cannot bind its port.
struct TPortBlocker {
    int Fd = socket(AF_INET, SOCK_STREAM, 0);
    int Port = 0;
    TPortBlocker() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        socklen_t len = sizeof addr;
        if (bind(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(Fd, 1) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            Port = ntohs(addr.sin_port);
    }
    ~TPortBlocker() { close(Fd); }
};

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void TickAndUntickLeaveTheConfigurationChanged() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QVERIFY(!form.ConfigChanged());
        form.Settings->cb_Private->click();
        form.Settings->cb_Private->click();
        QVERIFY(form.ConfigChanged());
        QTRY_COMPARE_WITH_TIMEOUT(form.StatusBar1->text(), Unsaved, 5000);
        form.SaveConfig1Click();
        QVERIFY(!form.ConfigChanged());
        QVERIFY(f.Dir.Exists("sk_KAV.ini"));
        QTRY_COMPARE_WITH_TIMEOUT(form.StatusBar1->text(), QString(), 5000);
        QVERIFY(f.Dialogs.Questions.isEmpty()); // "&Save Config" does not ask
    }

    void SaveConfigWithNothingChangedWritesNothing() {
        TFormFixture f;
        f.Create().SaveConfig1Click();
        QVERIFY(!f.Dir.Exists("sk_KAV.ini"));
        QVERIFY(!f.Dir.Exists("sk_KAV.NN"));
    }

    void ControlsReachTheSettingsAndComeBack() {
        TFormFixture f;
        TMainForm& form = f.Create();
        form.Settings->Memo_NickNames->setPlainText("10.0.0.7=Anna\n\n \n10.0.0.8=Bob");
        form.Logging->SE_ScreenLogLines2->setValue(3000);
        form.Settings->cb_AutoStart->click();
        const auto c = GeneralConfigSnapshot();
        QCOMPARE(c->NickNames, (std::vector<std::string>{"10.0.0.7=Anna", " ", "10.0.0.8=Bob"}));
        QCOMPARE(c->DetailScreenLogLines, 3000);
        QVERIFY(c->AutoStart);
        form.SaveConfig1Click();
        f.Destroy();
        ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig = TKAV_GeneralConfig(); });
        TMainForm& again = f.Create();
        QCOMPARE(again.Settings->Memo_NickNames->toPlainText(),
                 QStringLiteral("10.0.0.7=Anna\n \n10.0.0.8=Bob\n"));
        QCOMPARE(again.Logging->SE_ScreenLogLines2->value(), 3000);
        QVERIFY(again.Settings->cb_AutoStart->isChecked());
        QVERIFY(!again.ConfigChanged());
    }

    // A control put on a page but not into the page's table would neither show nor change
    // its setting.
    void EverySettingsControlIsInItsPagesTable() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QCOMPARE(form.BoundPages().size(), 6u);
        for (const TBoundPage* page : form.BoundPages()) {
            QSet<const QObject*> bound;
            for (const TSettingBinding& binding : page->Bindings())
                std::visit([&](const auto& ABind) { bound.insert(ABind.Control); }, binding);
            QCOMPARE(std::size_t(bound.size()), page->Bindings().size()); // each once
            for (const QWidget* control : page->findChildren<QWidget*>()) {
                const QString name = control->objectName();
                const bool edits = qobject_cast<const QCheckBox*>(control) ||
                                   qobject_cast<const QSpinBox*>(control) ||
                                   qobject_cast<const QComboBox*>(control) ||
                                   (qobject_cast<const QLineEdit*>(control) &&
                                    name.startsWith(QLatin1String("E_"))) ||
                                   (qobject_cast<const QPlainTextEdit*>(control) &&
                                    name.startsWith(QLatin1String("Memo_")));
                QVERIFY2(!edits || bound.contains(control), qPrintable(name));
            }
        }
    }

    void FailedLoadKeepsTheWindowsInitialValues() {
        TFormFixture f;
        std::filesystem::create_directory(f.Dir.Path() + "sk_KAV.ini"); // exists, unreadable
        TMainForm& form = f.Create(std::nullopt);
        QCOMPARE(f.Dialogs.Messages,
                 QStringList{"Error loading configuration, using default values"});
        QCOMPARE(form.Settings->SE_Port->value(), 80);
        QCOMPARE(form.Settings->SE_Expires->value(), 3);
        QCOMPARE(form.Logging->SE_ScreenLogLines1->value(), 1000);
        QVERIFY(form.Settings->cb_ResolveHN->isChecked());
        QVERIFY(!form.Logging->cb_LogToScreen1->isChecked());
        QVERIFY(!form.ConfigChanged());
        form.Settings->cb_Private->click(); // the first change copies every control
        QCOMPARE(GeneralConfigSnapshot()->ServerPort, 80);
        QVERIFY(GeneralConfigSnapshot()->ResolveHostNames);
    }

    void PortOverrideIsNeitherAChangeNorSaved() {
        TFormFixture f("[General]\r\nServerPort=1234\r\n");
        TMainForm& form = f.Create(4321);
        QCOMPARE(form.Settings->SE_Port->value(), 4321);
        QCOMPARE(GeneralConfigSnapshot()->ServerPort, 4321);
        QVERIFY(!form.ConfigChanged());
        form.Settings->cb_Private->click();
        form.SaveConfig1Click();
        QVERIFY(f.Dir.ReadFile("sk_KAV.ini").find("ServerPort=1234") != std::string::npos);
    }

    void WrapBoxesSwitchWrappingAndScrollBars() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QPlainTextEdit* memo = form.Logging->Memo1;
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth); // default: wrap on
        form.Logging->cb_WrapLines1->click();
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(form.ConfigChanged());
        QVERIFY(!GeneralConfigSnapshot()->OverviewWrapLines);
    }

    void SavingAScreenLogWritesCrLfOrReportsTheFailure() {
        TFormFixture f;
        TMainForm& form = f.Create();
        form.Logging->Memo1->setPlainText("first\nsecond");
        f.Dialogs.SaveFile = QString::fromStdString(f.Dir.Path() + "log.txt");
        form.B_SaveToFile1Click();
        QCOMPARE(f.Dir.ReadFile("log.txt"), std::string("first\r\nsecond\r\n"));
        f.Dir.WriteFile("plain", "");
        f.Dialogs.SaveFile = QString::fromStdString(f.Dir.Path() + "plain/log.txt");
        form.SavetofileOverView1Click();
        QCOMPARE(f.Dialogs.Messages, QStringList{"Error saving file"});
        QCOMPARE(form.Logging->Memo1->toPlainText(), QStringLiteral("first\nsecond"));
        f.Dialogs.SaveFile.clear(); // cancelled: nothing happens
        form.B_SaveToFile2Click();
        QCOMPARE(f.Dialogs.Messages.size(), 1);
    }

    void StartAndStopToggleTheButtonAndThePortField() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QPushButton* button = form.Settings->B_StartStop;
        button->click();
        QCOMPARE(button->text(), QStringLiteral("&Stop"));
        QVERIFY(!form.Settings->SE_Port->isEnabled());
        QVERIFY(form.Service().ListeningPort() > 0);
        button->click();
        QCOMPARE(button->text(), QStringLiteral("&Start"));
        QVERIFY(form.Settings->SE_Port->isEnabled());
        QVERIFY(!form.Service().ServerRunning());
    }

    void ATakenPortLeavesStartAndThePortFieldEnabled() {
        TPortBlocker blocker;
        QVERIFY(blocker.Port > 0);
        TFormFixture f;
        TMainForm& form = f.Create(blocker.Port);
        form.B_StartStopClick();
        QCOMPARE(form.Settings->B_StartStop->text(), QStringLiteral("&Start"));
        QVERIFY(form.Settings->SE_Port->isEnabled());
        QVERIFY(MessagesText(form).contains("when starting server"));
    }

    void ANewLogDirectoryTakesEffectForTheNextWrite() {
        TempDir first, second;
        TFormFixture f("[General]\r\nLogDir=" + first.Path() +
                       "\r\n[OverviewLog]\r\nLogToFile=1\r\n");
        TMainForm& form = f.Create();
        form.B_StartStopClick();
        const int port = form.Service().ListeningPort();
        QVERIFY(!Hit(port, "/one").empty());
        f.Dialogs.Folder.clear(); // cancelled: nothing changes
        form.B_LogDirClick();
        QCOMPARE(f.Dialogs.FolderStart, first.Path());
        QCOMPARE(GeneralConfigSnapshot()->LogDir, first.Path());
        QVERIFY(!form.ConfigChanged());
        f.Dialogs.Folder = second.Path().substr(0, second.Path().size() - 1); // no trailing '/'
        form.B_LogDirClick();
        QCOMPARE(GeneralConfigSnapshot()->LogDir, second.Path());
        QVERIFY(form.ConfigChanged());
        QVERIFY(!Hit(port, "/two").empty());
        QVERIFY(OverviewFiles(first.Path()).find("/one") != std::string::npos);
        QVERIFY(OverviewFiles(first.Path()).find("/two") == std::string::npos);
        QVERIFY(OverviewFiles(second.Path()).find("/two") != std::string::npos);
    }

    void TheCloseQuestionDecidesWhileTheServerRuns() {
        TFormFixture f;
        TMainForm& form = f.Create();
        form.show();
        form.B_StartStopClick();
        f.Dialogs.Answers = {false};
        QVERIFY(!form.close());
        QVERIFY(form.Service().ServerRunning());
        QVERIFY(!form.ClosedDown());
        f.Dialogs.Answers = {true};
        QVERIFY(form.close());
        QVERIFY(form.ClosedDown());
        QVERIFY(!form.Service().ServerRunning());
        QCOMPARE(f.Dialogs.Questions.size(), 2);
        QCOMPARE(
            f.Dialogs.Questions.at(1),
            QStringLiteral("Closing the program will disable sk_KAV-Server!\r\nClose program?"));
        const QString messages = MessagesText(form);
        QVERIFY(messages.indexOf("Server stopped.") <
                messages.indexOf("sk_KAV V1.0 - Program stopped"));
        QVERIFY(f.Dir.ReadFile("sk_KAV.ini").find("[WindowPos]") != std::string::npos);
    }

    void ClosingWhileStoppedAsksNothing() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QVERIFY(form.close());
        QVERIFY(f.Dialogs.Questions.isEmpty());
        QVERIFY(MessagesText(form).contains("Trying to stop server ..."));
    }

    void ASessionEndAsksOnlyWhetherToSave() {
        TFormFixture f;
        TMainForm& form = f.Create();
        form.B_StartStopClick();
        form.Settings->cb_Private->click();
        f.Dialogs.Answers = {false};
        form.QueryEndSession();
        QCOMPARE(f.Dialogs.Questions, QStringList{"Save configuration?"});
        QVERIFY(form.ClosedDown());
        QVERIFY(f.Dir.ReadFile("sk_KAV.ini").find("CacheControlPrivate") == std::string::npos);
    }

    void AutoStartWithAndWithoutTheTray_data() {
        QTest::addColumn<bool>("gotoTna");
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("minimized");
        QTest::newRow("AutoStart only") << false << true << true << false;
        QTest::newRow("AutoStart and GotoTNA") << true << true << false << false;
        QTest::newRow("GotoTNA without a tray") << true << false << true << true;
    }
    void AutoStartWithAndWithoutTheTray() {
        QFETCH(bool, gotoTna);
        QFETCH(bool, trayAvailable);
        QFETCH(bool, visible);
        QFETCH(bool, minimized);
        TFormFixture f(std::string("[General]\r\nAutoStart=1\r\nGotoTNA=") + (gotoTna ? "1" : "0") +
                       "\r\n");
        f.Dialogs.TrayAvailable = trayAvailable;
        TMainForm& form = f.Create();
        form.show();
        // Going to the tray may hide the window before it was ever exposed.
        if (visible)
            QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY_WITH_TIMEOUT(form.Service().ServerRunning(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form.isVisible(), visible, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form.isMinimized(), minimized, 5000);
        QCOMPARE(form.TrayIcon->isVisible(), !visible);
        if (!visible) {
            form.RestoreFromTray();
            QVERIFY(form.isVisible());
            QVERIFY(!form.TrayIcon->isVisible());
        }
    }

    void MinimisingWithGotoTnaHidesInTheTrayAClickRestoresAndExitThereCloses() {
        TFormFixture f("[General]\r\nGotoTNA=1\r\n");
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
        QVERIFY(form.TrayIcon->isVisible());
        emit form.TrayIcon->activated(QSystemTrayIcon::Context); // the menu's click
        QVERIFY(!form.isVisible());
        // A single click, as Linux desktops use tray icons.
        emit form.TrayIcon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(form.isVisible());
        QVERIFY(!form.TrayIcon->isVisible());
        form.showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
        form.Exit2Click(); // the hidden window still closes down
        QVERIFY(form.ClosedDown());
        QVERIFY(!form.TrayIcon->isVisible());
    }

    void TheSavedFrameComesBackWhereItCanBeReached_data() {
        QTest::addColumn<QPoint>("saved");
        QTest::addColumn<QPoint>("placed");
        QTest::newRow("as saved") << QPoint(30, 40) << QPoint(30, 40);
        QTest::newRow("title bar above the screen") << QPoint(10, -20) << QPoint(10, 0);
        QTest::newRow("off every screen") << QPoint(5000, 4000) << QPoint(0, 0);
    }
    void TheSavedFrameComesBackWhereItCanBeReached() {
        QFETCH(QPoint, saved);
        QFETCH(QPoint, placed);
        TFormFixture f("[WindowPos]\r\nTop=" + std::to_string(saved.y()) +
                       "\r\nLeft=" + std::to_string(saved.x()) + "\r\nHeight=300\r\nWidth=500\r\n");
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE_WITH_TIMEOUT(form.frameGeometry().topLeft(), placed, 5000);
        QVERIFY(form.close());
        // What the next start reads puts the frame in the same place again: no drift.
        const TWindowBounds next = LoadWindowPos(f.Dir.Path() + "sk_KAV.ini", TWindowBounds());
        QCOMPARE(QPoint(next.Left, next.Top), placed);
    }

    void PlacedFrameKeepsTheTitleBarOnAScreen_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("placed");
        // Two screens side by side; the right one is the primary and starts below a panel.
        QTest::newRow("on the left screen") << QRect(100, 100, 400, 300) << QPoint(100, 100);
        QTest::newRow("on the right screen") << QRect(2000, 300, 400, 300) << QPoint(2000, 300);
        QTest::newRow("under the panel") << QRect(2000, 5, 400, 300) << QPoint(2000, 30);
        QTest::newRow("hanging off the right") << QRect(3800, 200, 400, 300) << QPoint(3740, 200);
        QTest::newRow("below the bottom") << QRect(100, 1070, 400, 300) << QPoint(100, 1050);
        QTest::newRow("hanging off the left") << QRect(-380, 200, 400, 300) << QPoint(-300, 200);
        QTest::newRow("off every screen") << QRect(9000, 9000, 400, 300) << QPoint(1920, 30);
    }
    void PlacedFrameKeepsTheTitleBarOnAScreen() {
        QFETCH(QRect, frame);
        QFETCH(QPoint, placed);
        const QRect left(0, 0, 1920, 1080);
        const QRect right(1920, 30, 1920, 1050);
        QCOMPARE(PlacedFrame(frame, {left, right}, right).topLeft(), placed);
    }

    void AppTitleNamesCaptionAndTipButNotTheAboutDialog() {
        TFormFixture f("[General]\r\nAppTitle=Office\r\n");
        TMainForm& form = f.Create();
        QCOMPARE(form.windowTitle(), QStringLiteral("Office - sk_KAV - Web-Tracking V1.0"));
        QCOMPARE(form.AppTitle(), QStringLiteral("Office - sk_KAV V1.0"));
        QCOMPARE(form.TrayIcon->toolTip(), QStringLiteral("Office - sk_KAV V1.0\nServer stopped"));
        form.About1Click();
        QCOMPARE(f.Dialogs.AboutCaption, QStringLiteral("sk_KAV V1.0"));
        QCOMPARE(f.Dialogs.AboutVersion, QStringLiteral("sk_KAV - Web-Tracking V1.0"));
        form.B_StartStopClick();
        QCOMPARE(form.TrayIcon->toolTip(),
                 QStringLiteral("Office - sk_KAV V1.0\nServer running on port %1")
                     .arg(form.Service().ListeningPort()));
        TFormFixture g("[General]\r\nAppTitle=" + std::string(80, 'x') + "\r\n");
        QCOMPARE(g.Create().TrayIcon->toolTip().section(QLatin1Char('\n'), 0, 0).size(), 63);
    }

    // The pages scroll inside the window, so the window has the size it was given, and keeps
    // it; the about dialog goes to the middle of the screen wherever the window is.
    void TheWindowKeepsItsStoredSizeAndTheAboutDialogTheScreensMiddle() {
        const struct {
            const char* Ini;
            QSize Size;
        } cases[] = {
            {"", {819, 373}}, // nothing stored: the default
            {"[WindowPos]\r\nHeight=373\r\nWidth=819\r\n", {819, 373}},
            {"[WindowPos]\r\nHeight=300\r\nWidth=500\r\n", {500, 300}},
        };
        for (const auto& c : cases) {
            TFormFixture f{std::string(c.Ini)};
            TMainForm& form = f.Create();
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.size(), c.Size);
            QVERIFY(form.close());
            const TWindowBounds saved =
                LoadWindowPos(f.Dir.Path() + "sk_KAV.ini", TWindowBounds{0, 0, 1, 1});
            QCOMPARE(QSize(saved.Width, saved.Height), c.Size);
        }
        TFormFixture f;
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect area = form.screen()->availableGeometry();
        const QSize about = form.AboutDialog->frameGeometry().size();
        for (const QPoint& at : {QPoint(0, 0), QPoint(300, 40)}) {
            form.move(at);
            form.About1Click();
            QCOMPARE(f.Dialogs.AboutPos, QPoint(area.left() + (area.width() - about.width()) / 2,
                                                area.top() + (area.height() - about.height()) / 2));
        }
    }
};

QTEST_MAIN(TestMainForm)
#include "TestMainForm.moc"
