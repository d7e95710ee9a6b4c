// The "Dashboard" page: its settings round trip through the settings file, a password set in
// the window is kept only as its hash, the dashboard runs with the window whether or not the
// server does, opens in the browser, and stops before the program says it stopped.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QUrl>
#include <QtTest>

#include "ShellTestSupport.h"
#include "config/config.h"
#include "dashboard/DashboardPassword.h"
#include "dashboard/TDashboardService.h"
#include "shell/TDashboardPage.h"
#include "support/LoopbackClient.h"
#include "tracking/TTrackingService.h"

class TestDashboardPage : public QObject {
    Q_OBJECT

private slots:
    void ItsSettingsRoundTripAndThePasswordIsKeptAsAHash() {
        TFormFixture f("[Dashboard]\r\nBindAddress=::1\r\nShareToken=short\r\n");
        TMainForm& form = f.Create();
        QCOMPARE(form.PageControl1->tabText(5), QStringLiteral("Dashboard"));
        TDashboardPage& d = *form.Dashboard;
        QCOMPARE(d.SE_DashboardPort->value(), 0);
        QCOMPARE(d.E_DashboardBindAddress->text(), QStringLiteral("::1"));
        QVERIFY(d.L_ShareLink->text().startsWith(QStringLiteral("At least 16")));
        QVERIFY(d.L_Password->text().startsWith(QStringLiteral("None")));
        QVERIFY(!form.ConfigChanged());

        d.HashRounds = 1000;
        d.AskPassword = [] { return std::optional<QString>(QStringLiteral("window secret")); };
        d.B_SetPasswordClick();
        QVERIFY(form.ConfigChanged());
        const std::string hash = GeneralConfigSnapshot()->DashboardPasswordHash;
        QVERIFY(PasswordMatches("window secret", hash));
        d.AskPassword = [] { return std::optional<QString>(); }; // cancelled: nothing changes
        d.B_SetPasswordClick();
        QCOMPARE(GeneralConfigSnapshot()->DashboardPasswordHash, hash);
        d.B_NewShareTokenClick();
        QCOMPARE(d.E_ShareToken->text().size(), 32);
        QVERIFY(d.L_ShareLink->text().isEmpty()); // usable, but nothing answers yet
        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        QVERIFY(ini.find("\r\nPasswordHash=" + hash + "\r\n") != std::string::npos);
        QVERIFY(ini.find("window secret") == std::string::npos);
        QVERIFY(ini.find("\r\nShareToken=" + d.E_ShareToken->text().toStdString() + "\r\n") !=
                std::string::npos);
    }

    void TheDashboardRunsWithTheWindowAndOpensInTheBrowser() {
        TFormFixture f;
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.ShowPage(form.Dashboard);
        TDashboardPage& d = *form.Dashboard;
        QVERIFY(!d.B_OpenDashboard->isEnabled());
        const int port = FreePort();
        d.SE_DashboardPort->setValue(port);
        form.UpdateTimerTimer();
        QVERIFY(!form.Service().ServerRunning());
        QVERIFY(form.DashboardService().Running());
        const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        QCOMPARE(d.L_DashboardState->text(), QStringLiteral("Answering at ") + address);
        QUrl opened;
        d.OpenUrl = [&](const QUrl& AUrl) { opened = AUrl; };
        QTest::mouseClick(d.B_OpenDashboard, Qt::LeftButton);
        QCOMPARE(opened, QUrl(address));
        const std::string page = Exchange(port, "GET / HTTP/1.1\r\n\r\n");
        QVERIFY(page.starts_with("HTTP/1.1 200 OK"));

        QVERIFY(form.close());
        const QString messages = MessagesText(form);
        QVERIFY(messages.contains(QStringLiteral("Dashboard started, listening on 127.0.0.1:")));
        QVERIFY(messages.indexOf("Dashboard stopped.") >= 0);
        QVERIFY(messages.indexOf("Dashboard stopped.") <
                messages.indexOf("sk_KAV V1.0 - Program stopped"));
    }
};

QTEST_MAIN(TestDashboardPage)
#include "TestDashboardPage.moc"
