// The tray icon under a real X server with a tray host (run by tray_test.sh): the pointer's
// clicks go through the X server and the host, as a user's do.
#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest>

#include "ShellTestSupport.h"

namespace {

// The icon's own window, which the tray host has taken in. (QSystemTrayIcon::geometry() gives
// its place inside the host's window, not on the screen.)
QWidget* IconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return widget;
    return nullptr;
}

// A click in the middle of the icon, through the X server and the tray host as a user's click
// goes: the pointer is moved there, then the button pressed and let go (a button given with the
// window would be sent to it directly, past the X server).
void Click(int AButton) {
    QWidget* icon = nullptr;
    QVERIFY(QTest::qWaitFor([&] { return (icon = IconWindow()) != nullptr; }, 5000));
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                               {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                QString::number(icon->winId()), QString::number(icon->width() / 2),
                                QString::number(icon->height() / 2)}),
             0);
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                               {QStringLiteral("click"), QString::number(AButton)}),
             0);
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private slots:
    void ARightClickOpensTheMenuAndALeftClickRestores() {
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        TFormFixture f("[General]\r\nGotoTNA=1\r\n");
        TMainForm& form = f.Create();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.MinimizeToTray();
        QVERIFY(!form.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(IconWindow() != nullptr, 10000);
        QTest::qWait(500); // the host takes the icon in

        Click(3);
        QTRY_VERIFY_WITH_TIMEOUT(form.TNAMenu->isVisible(), 5000);
        QTest::qWait(300);
        QVERIFY2(!form.isVisible(), "a right click restored the window");
        QVERIFY(form.TNAMenu->isVisible());
        form.TNAMenu->hide();

        Click(1);
        QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 5000);
        QVERIFY(!form.TrayIcon->isVisible());
        QVERIFY(!form.TNAMenu->isVisible());
    }
};

QTEST_MAIN(TestTray)
#include "TestTray.moc"
