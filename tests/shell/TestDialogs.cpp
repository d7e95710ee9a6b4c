// The folder dialog and the about dialog, driven as real widgets on the offscreen platform.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>

#include "shell/AboutDialog.h"
#include "shell/sk_BrowseDialog.h"
#include "support/TempDir.h"

namespace {

// Answers the next modal dialog with AAnswer once it is up; the timer gives up after 10 s.
void AnswerNextModal(const std::function<void(QDialog&)>& AAnswer) {
    auto* timer = new QTimer;
    auto* tries = new int(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr && ++*tries < 1000)
            return;
        timer->stop();
        timer->deleteLater();
        delete tries;
        if (dialog != nullptr)
            AAnswer(*dialog);
    });
    timer->start(10);
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    void BrowseStartsAtAnExistingFolderOnly() {
        TempDir dir;
        dir.WriteFile("file.txt", "x");
        const std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
        QCOMPARE(BrowseStartFolder(dir.Path()), folder);
        QCOMPARE(BrowseStartFolder(dir.Path() + "file.txt"), folder);
        QCOMPARE(BrowseStartFolder(dir.Path() + "gone/"), std::string());
        QCOMPARE(BrowseStartFolder(""), std::string());
    }

    void BrowseReturnsTheChosenFolderOrNothing() {
        TempDir dir;
        std::filesystem::create_directory(dir.Path() + "logs");
        QString shownAt;
        AnswerNextModal([&](QDialog& ADialog) {
            auto& files = static_cast<QFileDialog&>(ADialog);
            shownAt = files.directory().absolutePath();
            files.selectFile(QString::fromStdString(dir.Path() + "logs"));
            ADialog.accept();
        });
        const std::string chosen = BrowseForFolder("Select Directory for Logfiles", 1, dir.Path());
        QCOMPARE(shownAt.toStdString() + "/", dir.Path());
        QCOMPARE(chosen, dir.Path() + "logs");
        AnswerNextModal([](QDialog& ADialog) { ADialog.reject(); });
        QCOMPARE(BrowseForFolder("Select Directory for Logfiles", 1, dir.Path()), std::string());
    }

    void AboutClosesOnEnterAndOnEscape() {
        TKAV_AboutDialog about;
        QCOMPARE(about.OKBtn->text(), QStringLiteral("OK"));
        QCOMPARE(about.Image1->pixmap().size(), QSize(32, 32));
        QVERIFY(!ProgramIcon().pixmap(16, 16).isNull());
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
            AnswerNextModal([key](QDialog& ADialog) { QTest::keyClick(&ADialog, Qt::Key(key)); });
            QCOMPARE(about.exec(), int(QDialog::Accepted));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "TestDialogs.moc"
