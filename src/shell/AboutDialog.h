// The about dialog: the program's icon and version text; Enter and Escape close it.
// Window's thread only.
#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;
class QScreen;

// The program's icon, drawn at 16 and 32 pixels: window, tray and about dialog.
QIcon ProgramIcon();

class TKAV_AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit TKAV_AboutDialog(QWidget* AParent = nullptr);

    // Escape closes with the same result as "OK".
    void reject() override;
    // Puts the dialog in the middle of AScreen's free area (not over its parent, where a
    // dialog goes by default); before each showing.
    void CentreOn(const QScreen* AScreen);

    // Components in their declared order; caption and VersionLabel are set before each showing.
    QPushButton* OKBtn;
    QLabel* Image1;
    QLabel* VersionLabel;
};
