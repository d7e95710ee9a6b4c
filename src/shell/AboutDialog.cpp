#include "shell/AboutDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/skav/sk_kav-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/skav/sk_kav-32.png"), QSize(32, 32));
    return icon;
}

TKAV_AboutDialog::TKAV_AboutDialog(QWidget* AParent)
    : QDialog(AParent), OKBtn(new QPushButton(tr("OK"), this)), Image1(new QLabel(this)),
      VersionLabel(new QLabel(this)) {
    setObjectName(QStringLiteral("KAV_AboutDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(493, 246); // a dialog frame: not resizable
    setModal(true);

    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(412, 212, 75, 25);
    OKBtn->setDefault(true); // Enter
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(ProgramIcon().pixmap(32, 32));
    Image1->setGeometry(5, 5, 32, 32);

    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    QFont bold = VersionLabel->font();
    bold.setBold(true);
    VersionLabel->setFont(bold);
    VersionLabel->move(45, 7);
    VersionLabel->resize(440, 20);
}

void TKAV_AboutDialog::reject() {
    accept();
}

void TKAV_AboutDialog::CentreOn(const QScreen* AScreen) {
    if (AScreen == nullptr)
        AScreen = QGuiApplication::primaryScreen();
    if (AScreen == nullptr)
        return;
    const QRect area = AScreen->availableGeometry();
    const QSize frame = frameGeometry().size();
    move(area.left() + (area.width() - frame.width()) / 2,
         area.top() + (area.height() - frame.height()) / 2);
}
