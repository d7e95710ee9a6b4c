// The "Privacy" page: its controls start at the program's defaults, visitor ids follow the
// mask in a file that does not name them, the example line follows the bits, and every
// control round trips through the settings file.
#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

#include "ShellTestSupport.h"
#include "config/config.h"
#include "shell/TPrivacyPage.h"

class TestPrivacyPage : public QObject {
    Q_OBJECT

private slots:
    void DefaultsKeepTheRecordsAsTheyWere() {
        TFormFixture f("[General]\r\nServerPort=0\r\n");
        TMainForm& form = f.Create();
        const TPrivacyPage& p = *form.Privacy;
        QVERIFY(!p.CB_MaskAddresses->isChecked());
        QVERIFY(!p.CB_VisitorIds->isChecked());
        QVERIFY(!p.CB_HonourDoNotTrack->isChecked());
        QVERIFY(p.CB_RedactCredentials->isChecked());
        QCOMPARE(p.SE_KeepLogDays->value(), 0);
        QCOMPARE(p.SE_KeepLogDays->text(), QStringLiteral("all"));
        QCOMPARE(p.SE_KeepIPv6Bits->maximum(), KeepIPv6BitsRange.Max);
        QCOMPARE(p.SE_KeepLogDays->maximum(), KeepLogDaysRange.Max);
        QCOMPARE(p.L_MaskExample->text(), QStringLiteral("Addresses are recorded in full."));
    }

    void VisitorIdsFollowTheMaskAndEverythingRoundTrips() {
        TFormFixture f("[Privacy]\r\nMaskAddresses=1\r\nKeepLogDays=400\r\n");
        TMainForm& form = f.Create();
        TPrivacyPage& p = *form.Privacy;
        QVERIFY(p.CB_MaskAddresses->isChecked());
        QVERIFY(p.CB_VisitorIds->isChecked()); // shown as in force, not as "unset"
        QCOMPARE(p.SE_KeepLogDays->value(), 400);
        QCOMPARE(p.L_MaskExample->text(),
                 QStringLiteral("203.0.113.7 is recorded as 203.0.0.0, 2001:db8:1:2::7 as "
                                "2001:db8::."));
        p.SE_KeepIPv4Bits->setValue(24);
        p.SE_KeepIPv6Bits->setValue(64);
        QCOMPARE(p.L_MaskExample->text(),
                 QStringLiteral("203.0.113.7 is recorded as 203.0.113.0, 2001:db8:1:2::7 as "
                                "2001:db8:1:2::."));
        p.CB_HonourDoNotTrack->setChecked(true);
        p.CB_RedactCredentials->setChecked(false);
        QCOMPARE(GeneralConfigSnapshot()->KeepIPv4Bits, 24);
        QVERIFY(GeneralConfigSnapshot()->HonourDoNotTrack);
        QVERIFY(!GeneralConfigSnapshot()->RedactCredentials);
        form.SaveConfig1Click();
        const std::string ini = f.Dir.ReadFile("sk_KAV.ini");
        for (const char* line : {"\r\nVisitorIds=1\r\n", "\r\nKeepIPv4Bits=24\r\n",
                                 "\r\nKeepIPv6Bits=64\r\n", "\r\nHonourDoNotTrack=1\r\n",
                                 "\r\nRedactCredentials=0\r\n", "\r\nKeepLogDays=400\r\n"})
            QVERIFY2(ini.find(line) != std::string::npos, line);
    }
};

QTEST_MAIN(TestPrivacyPage)
#include "TestPrivacyPage.moc"
