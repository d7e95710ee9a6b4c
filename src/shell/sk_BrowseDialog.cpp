#include "shell/sk_BrowseDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

std::string BrowseStartFolder(const std::string& AInitialFolder) {
    if (AInitialFolder.empty())
        return {};
    const QFileInfo info(QString::fromStdString(AInitialFolder));
    if (info.isDir())
        return QDir::cleanPath(info.absoluteFilePath()).toStdString();
    if (info.isFile())
        return info.absolutePath().toStdString();
    return {};
}

std::string BrowseForFolder(const std::string& ATitle, int /*AFlags*/,
                            const std::string& AInitialFolder, QWidget* AParent) {
    const QString start = QString::fromStdString(BrowseStartFolder(AInitialFolder));
    QWidget* owner = AParent ? AParent : QApplication::activeWindow();
    QFileDialog dialog(owner, QString::fromStdString(ATitle));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!start.isEmpty())
        dialog.setDirectory(start);
    std::string result;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QFileInfo chosen(dialog.selectedFiles().constFirst());
        if (chosen.isDir())
            result = QDir::cleanPath(chosen.absoluteFilePath()).toStdString();
    }
    return result;
}
