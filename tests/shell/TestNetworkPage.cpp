// The "Network" page and the window's share of a public port's defences: the HTTPS certificate
// and key with their line, the listening address and trusted proxies, the limits round trip through
// the settings file, the port box stays within 1..65535, a port outside it refuses the start, and
// what the settings file got wrong is told in the Messages list.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

#include <filesystem>

#include "ShellTestSupport.h"
#include "config/config.h"
#include "shell/TNetworkPage.h"
#include "shell/TSettingsPage.h"
#include "shell/TStorePage.h"
#include "support/TLSTestClient.h"
#include "support/TestCertificates.h"
#include "tracking/TTrackingService.h"

class TestNetworkPage : public QObject {
    Q_OBJECT

private slots:
    void TheThirdPageHoldsTheLimitsWithTheSettingsRanges() {
        TFormFixture f;
        TMainForm& form = f.Create();
        QCOMPARE(form.PageControl1->count(), 7);
        QCOMPARE(form.PageControl1->tabText(0), QStringLiteral("Settings"));
        QCOMPARE(form.PageControl1->tabText(1), QStringLiteral("&Logging"));
        QCOMPARE(form.PageControl1->tabText(2), QStringLiteral("Network"));
        QCOMPARE(form.PageControl1->tabText(3), QStringLiteral("Privacy"));
        QCOMPARE(form.PageControl1->tabText(4), QStringLiteral("Store"));
        QCOMPARE(form.PageControl1->tabText(5), QStringLiteral("Dashboard"));
        QCOMPARE(form.PageControl1->tabText(6), QStringLiteral("Statistics"));
        const TNetworkPage& n = *form.Network;
        const std::pair<QSpinBox*, TSettingRange> boxes[] = {
            {n.SE_MaxConnectionsPerIP, ConnectionsPerIPRange},
            {n.SE_HeadTimeoutUnderLoad, HeadTimeoutRange},
            {n.SE_MaxBodySize, BodySizeRange},
            {n.SE_MaxHeaderSize, HeaderSizeRange},
            {n.SE_MaxRequestMemory, RequestMemoryRange},
            {n.SE_ReuseThreads, ReuseThreadsRange}};
        for (const auto& [box, range] : boxes) {
            QCOMPARE(box->minimum(), range.Min);
            QCOMPARE(box->maximum(), range.Max);
        }
        QCOMPARE(n.SE_MaxConnectionsPerIP->value(), 16);
        QCOMPARE(n.SE_MaxRequestMemory->value(), 32 * 1024 * 1024);
        QCOMPARE(n.SE_ReuseThreads->value(), 64);
        QCOMPARE(form.Settings->SE_Port->maximum(), 65535);
    }

    void LimitsRoundTripThroughTheSettingsFile() {
        TFormFixture f("[General]\r\nMaxConnectionsPerIP=4\r\nMaxBodySize=999999999\r\n"
                       "ReuseThreads=0\r\n");
        TMainForm& form = f.Create();
        QCOMPARE(form.Network->SE_MaxConnectionsPerIP->value(), 4);
        QCOMPARE(form.Network->SE_MaxBodySize->value(), BodySizeRange.Max); // clamped
        QCOMPARE(form.Network->SE_ReuseThreads->value(), 0);
        QVERIFY(!form.ConfigChanged());
        form.Network->SE_MaxHeaderSize->setValue(4096);
        QVERIFY(form.ConfigChanged());
        QCOMPARE(GeneralConfigSnapshot()->MaxHeaderSize, 4096);
        form.Network->SE_ReuseThreads->setValue(8);
        QCOMPARE(GeneralConfigSnapshot()->ReuseThreads, 8);
        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        QVERIFY(ini.find("\r\nMaxConnectionsPerIP=4\r\n") != std::string::npos);
        QVERIFY(ini.find("\r\nMaxHeaderSize=4096\r\n") != std::string::npos);
        QVERIFY(ini.find("\r\nReuseThreads=8\r\n") != std::string::npos);
    }

    // The store's page edits its four settings live; a connection that names a password,
    // which the store refuses, is told below the field at once.
    void TheStorePageRoundTripsAndWarnsOfAPassword() {
        TFormFixture f("[Store]\r\nConnection=host=/tmp dbname=a\r\n[Export]\r\nInstance=eu-1\r\n");
        TMainForm& form = f.Create();
        const TStorePage& s = *form.Store;
        QCOMPARE(s.E_StoreConnection->text(), QStringLiteral("host=/tmp dbname=a"));
        QCOMPARE(s.E_Instance->text(), QStringLiteral("eu-1"));
        QCOMPARE(s.SE_MaxSpoolBytes->value(), 1 << 30);
        QVERIFY(!s.cb_JsonFile->isChecked());
        QVERIFY(s.L_StoreConnectionCheck->text().isEmpty());
        QVERIFY(!s.L_StoreConnectionCheck->isVisibleTo(&s));
        s.E_StoreConnection->setText(QStringLiteral("host=/tmp password=secret"));
        QVERIFY(s.L_StoreConnectionCheck->text().contains(QStringLiteral("password")));
        QVERIFY(s.L_StoreConnectionCheck->isVisibleTo(&s));
        s.E_StoreConnection->setText(QStringLiteral("host=/tmp dbname=b"));
        QVERIFY(s.L_StoreConnectionCheck->text().isEmpty());
        QVERIFY(!s.L_StoreConnectionCheck->isVisibleTo(&s));
        QCOMPARE(GeneralConfigSnapshot()->StoreConnection, "host=/tmp dbname=b");
        s.cb_JsonFile->click();
        QVERIFY(GeneralConfigSnapshot()->ExportJsonFile);
        s.SE_MaxSpoolBytes->setValue(0);
        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        QVERIFY(ini.find("\r\nJsonFile=1\r\n") != std::string::npos);
        QVERIFY(ini.find("\r\nMaxSpoolBytes=0\r\n") != std::string::npos);
    }

    // As on the command line, an override outside 1..65535 is refused at the start, not
    // wrapped around; 0 lets the system choose.
    void APortOutsideTheRangeRefusesTheStart() {
        TFormFixture f;
        TMainForm& form = f.Create(65536 + 8080);
        form.B_StartStopClick();
        QVERIFY(!form.Service().ServerRunning());
        QVERIFY(MessagesText(form).contains(
            "Port 73616 is outside 1..65535: the server is not started."));
        TFormFixture g("[General]\r\nServerPort=0\r\n");
        TMainForm& fromFile = g.Create(std::nullopt);
        fromFile.B_StartStopClick();
        QVERIFY(!fromFile.Service().ServerRunning());
        TMainForm& chosen = g.Create(0);
        chosen.B_StartStopClick();
        QVERIFY(chosen.Service().ServerRunning());
    }

    // The address fields round trip through the settings file, say at once what is wrong in
    // them, and the listening address, like the port, is fixed while the server runs.
    void AddressFieldsCheckTheirTextAndRoundTrip() {
        TFormFixture f("[General]\r\nTrustedProxies=127.0.0.1, proxy.example\r\n");
        TMainForm& form = f.Create();
        TNetworkPage& n = *form.Network;
        QCOMPARE(n.E_BindAddress->text(), QString());
        QCOMPARE(n.E_TrustedProxies->text(), QStringLiteral("127.0.0.1, proxy.example"));
        QCOMPARE(n.L_BindAddressCheck->text(), QString());
        QCOMPARE(n.L_TrustedProxiesCheck->text(),
                 QStringLiteral("Not an address or range, passed over: proxy.example"));
        QVERIFY(MessagesText(form).contains(
            "TrustedProxies: \"proxy.example\" is no address or range: it is passed over"));

        n.E_BindAddress->setText(QStringLiteral("localhost"));
        QVERIFY(n.L_BindAddressCheck->text().startsWith("Not an IPv4 or IPv6 address"));
        n.E_BindAddress->setText(QStringLiteral("127.0.0.1"));
        QCOMPARE(n.L_BindAddressCheck->text(), QString());
        n.E_TrustedProxies->setText(QStringLiteral("::1, 10.0.0.0/8"));
        QCOMPARE(n.L_TrustedProxiesCheck->text(), QString());
        QCOMPARE(n.CO_ForwardedHeader->currentText(), QStringLiteral("X-Forwarded-For"));
        n.CO_ForwardedHeader->setCurrentText(QStringLiteral("Forwarded"));
        QCOMPARE(GeneralConfigSnapshot()->ForwardedHeader, std::string("Forwarded"));
        QCOMPARE(GeneralConfigSnapshot()->BindAddress, std::string("127.0.0.1"));
        QCOMPARE(GeneralConfigSnapshot()->Indexes.TrustedProxies->size(), size_t(2));

        form.B_StartStopClick();
        QVERIFY(form.Service().ServerRunning());
        QVERIFY(MessagesText(form).contains("Server started, listening on 127.0.0.1:"));
        QVERIFY(!n.E_BindAddress->isEnabled());
        QVERIFY(n.E_TrustedProxies->isEnabled()); // for new connections at once
        form.B_StartStopClick();
        QVERIFY(n.E_BindAddress->isEnabled());
        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        QVERIFY(ini.find("\r\nBindAddress=127.0.0.1\r\n") != std::string::npos);
        QVERIFY(ini.find("\r\nTrustedProxies=::1, 10.0.0.0/8\r\n") != std::string::npos);
        QVERIFY(ini.find("\r\nForwardedHeader=Forwarded\r\n") != std::string::npos);
    }

    // Browse picks the files; the line tells the names and the end, in the warning colour
    // when the end is near or the key is another's; new connections get the new pair.
    void TheCertificateAndKeyAreChosenAndServeTheRunningServer() {
        TFormFixture f;
        TTestCA ca;
        const QString dir = QString::fromStdString(f.Dir.Path());
        const TTestCertificate good = ca.Issue({"stats.example.org"}, 0x11, 90);
        const TTestCertificate ending = ca.Issue({"stats.example.org"}, 0x12, 3);
        f.Dir.WriteFile("good.pem", good.ChainPem);
        f.Dir.WriteFile("good.key", good.KeyPem);
        f.Dir.WriteFile("ending.pem", ending.ChainPem);
        f.Dir.WriteFile("ending.key", ending.KeyPem);
        TMainForm& form = f.Create();
        TNetworkPage& n = *form.Network;
        QCOMPARE(n.L_Certificate->text(), QStringLiteral("none: plain HTTP only"));
        form.B_StartStopClick();
        QVERIFY(form.Service().ServerRunning());
        const int port = form.Service().ListeningPort();

        f.Dialogs.OpenFiles = {dir + "good.pem", dir + "good.key"};
        n.B_CertFile->click();
        n.B_KeyFile->click();
        QCOMPARE(f.Dialogs.OpenTitles, QStringList({"Certificate chain (PEM)", "Key (PEM)"}));
        QVERIFY(form.ConfigChanged());
        QCOMPARE(GeneralConfigSnapshot()->TLSCertFile, f.Dir.Path() + "good.pem");
        QCOMPARE(GeneralConfigSnapshot()->TLSKeyFile, f.Dir.Path() + "good.key");
        QVERIFY(n.L_Certificate->text().startsWith("stats.example.org; valid until "));
        QVERIFY(!n.L_Certificate->property("warning").toBool());
        const QString reloaded = QStringLiteral("HTTPS certificate reloaded for new connections");
        QTRY_COMPARE_WITH_TIMEOUT(MessagesText(form).count(reloaded), 1, 5000); // the timer
        TTLSTestClient client;
        QVERIFY(client.Connect(port));
        QCOMPARE(client.PeerSerial(), std::string("11"));

        // Typed names count once the field is left.
        n.E_CertFile->setText(dir + "ending.pem");
        n.E_KeyFile->setText(dir + "ending.key");
        emit n.E_CertFile->editingFinished();
        QVERIFY(n.L_Certificate->text().endsWith("(in 3 days)"));
        QVERIFY(n.L_Certificate->property("warning").toBool());
        QTRY_COMPARE_WITH_TIMEOUT(MessagesText(form).count(reloaded), 2, 5000);
        TTLSTestClient later;
        QVERIFY(later.Connect(port));
        QCOMPARE(later.PeerSerial(), std::string("12"));
        n.E_KeyFile->setText(dir + "good.key");
        emit n.E_KeyFile->editingFinished();
        QVERIFY(n.L_Certificate->text().contains("does not match the certificate"));
        QVERIFY(n.L_Certificate->property("warning").toBool());

        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        QVERIFY(ini.find("[TLS]\r\nCertFile=" + f.Dir.Path() + "ending.pem\r\nKeyFile=" +
                         f.Dir.Path() + "good.key\r\n") != std::string::npos);
        f.Dialogs.OpenFiles.clear();
        n.B_CertFile->click(); // cancelled: nothing changes
        QCOMPARE(n.E_CertFile->text(), dir + "ending.pem");
        QVERIFY(!form.ConfigChanged());
    }

    void WhatTheSettingsGotWrongIsToldAtTheStart() {
        TFormFixture f("[General]\r\nLogDir=/no/such/dir\r\n");
        std::filesystem::create_directory(f.Dir.Path() + "sk_KAV.NN");
        TMainForm& form = f.Create();
        const QString messages = MessagesText(form);
        QVERIFY(messages.indexOf("Program started") <
                messages.indexOf("Log directory \"/no/such/dir\" is not a directory"));
        QVERIFY(messages.contains("Nickname list \"" + QString::fromStdString(f.Dir.Path()) +
                                  "sk_KAV.NN\" is no readable file"));
    }
};

QTEST_MAIN(TestNetworkPage)
#include "TestNetworkPage.moc"
