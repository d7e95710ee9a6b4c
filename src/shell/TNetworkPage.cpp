#include "shell/TNetworkPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/DateTime.h"
#include "config/config.h"
#include "shell/Controls.h"
#include "tracking/TTLSCertificateWatch.h"

namespace {

QSpinBox* NewLimitBox(QWidget* AParent, const char* AName, TSettingRange ARange, int AValue,
                      int AStep) {
    return NewSpinBox(AParent, AName, ARange.Min, ARange.Max, AValue, AStep);
}

QLineEdit* NewFileField(QWidget* AParent, const char* AName) {
    auto* field = new QLineEdit(AParent);
    field->setObjectName(QString::fromLatin1(AName));
    return field;
}

// A file field with its Browse button beside it, as one form row.
QWidget* FileRow(QWidget* AParent, QLineEdit* AField, QPushButton* AButton) {
    auto* row = new QWidget(AParent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(AField, 1);
    layout->addWidget(AButton);
    return row;
}

} // namespace

TNetworkPage::TNetworkPage(QWidget* AParent) : QWidget(AParent) {
    setObjectName(QStringLiteral("TabNetwork"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildHttps());
    layout->addWidget(BuildLimits());
    UpdateCertificateLine();
    layout->addStretch(1);
    for (QSpinBox* box : {SE_MaxConnectionsPerIP, SE_HeadTimeoutUnderLoad, SE_MaxBodySize,
                          SE_MaxHeaderSize, SE_MaxRequestMemory})
        connect(box, &QSpinBox::valueChanged, this, &TNetworkPage::Changed);
}

// A path is taken when the field is left (or Enter pressed), not at every key: a half-typed
// name would be loaded, and complained of, by the running server.
QGroupBox* TNetworkPage::BuildHttps() {
    auto* group = new QGroupBox(QStringLiteral(" HTTPS "), this);
    group->setObjectName(QStringLiteral("GB_Https"));
    E_CertFile = NewFileField(group, "E_CertFile");
    E_CertFile->setPlaceholderText(QStringLiteral("empty: plain HTTP only"));
    E_KeyFile = NewFileField(group, "E_KeyFile");
    E_KeyFile->setPlaceholderText(QStringLiteral("empty: the key is in the certificate file"));
    B_CertFile = NewButton(group, "B_CertFile", QStringLiteral("Browse..."));
    B_KeyFile = NewButton(group, "B_KeyFile", QStringLiteral("Browse..."));
    L_Certificate = new QLabel(group);
    L_Certificate->setObjectName(QStringLiteral("L_Certificate"));
    L_Certificate->setWordWrap(true);
    L_Certificate->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Certificate chain (PEM):"),
                 FileRow(group, E_CertFile, B_CertFile));
    form->addRow(QStringLiteral("Key (PEM):"), FileRow(group, E_KeyFile, B_KeyFile));
    form->addRow(QStringLiteral("Certificate:"), L_Certificate);
    for (QLineEdit* field : {E_CertFile, E_KeyFile})
        connect(field, &QLineEdit::editingFinished, this, &TNetworkPage::FileFieldChanged);
    connect(B_CertFile, &QPushButton::clicked, this,
            [this] { BrowseFor(E_CertFile, QStringLiteral("Certificate chain (PEM)")); });
    connect(B_KeyFile, &QPushButton::clicked, this,
            [this] { BrowseFor(E_KeyFile, QStringLiteral("Key (PEM)")); });
    return group;
}

void TNetworkPage::BrowseFor(QLineEdit* AField, const QString& ATitle) {
    if (!ChooseFile)
        return;
    const QString chosen = ChooseFile(ATitle, AField->text());
    if (chosen.isEmpty() || chosen == AField->text())
        return;
    AField->setText(chosen);
    FileFieldChanged();
}

void TNetworkPage::FileFieldChanged() {
    // editingFinished also comes when the field merely loses the focus unchanged.
    if (E_CertFile->text() == FShownCertFile && E_KeyFile->text() == FShownKeyFile)
        return;
    UpdateCertificateLine();
    emit Changed();
}

void TNetworkPage::UpdateCertificateLine() {
    FShownCertFile = E_CertFile->text();
    FShownKeyFile = E_KeyFile->text();
    const TTLSPairSummary summary =
        DescribeTLSPair(FShownCertFile.toStdString(), FShownKeyFile.toStdString(), ClockNow());
    L_Certificate->setText(summary.Text.empty() ? QStringLiteral("none: plain HTTP only")
                                                : QString::fromStdString(summary.Text));
    L_Certificate->setProperty("warning", summary.Warning);
    L_Certificate->setStyleSheet(summary.Warning ? QStringLiteral("color: #c00000;") : QString());
}

QGroupBox* TNetworkPage::BuildLimits() {
    auto* group = new QGroupBox(QStringLiteral(" Limits "), this);
    group->setObjectName(QStringLiteral("GB_Limits"));
    const TKAV_GeneralConfig defaults;
    SE_MaxConnectionsPerIP = NewLimitBox(group, "SE_MaxConnectionsPerIP", ConnectionsPerIPRange,
                                         defaults.MaxConnectionsPerIP, 1);
    SE_HeadTimeoutUnderLoad = NewLimitBox(group, "SE_HeadTimeoutUnderLoad", HeadTimeoutRange,
                                          defaults.HeadTimeoutUnderLoad, 100);
    SE_MaxBodySize =
        NewLimitBox(group, "SE_MaxBodySize", BodySizeRange, defaults.MaxBodySize, 1024);
    SE_MaxHeaderSize =
        NewLimitBox(group, "SE_MaxHeaderSize", HeaderSizeRange, defaults.MaxHeaderSize, 1024);
    SE_MaxRequestMemory = NewLimitBox(group, "SE_MaxRequestMemory", RequestMemoryRange,
                                      defaults.MaxRequestMemory, 1024 * 1024);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Connections per client address (0 = no limit):"),
                 SE_MaxConnectionsPerIP);
    form->addRow(QStringLiteral("Request head under load [ms]:"), SE_HeadTimeoutUnderLoad);
    form->addRow(QStringLiteral("Request body [bytes]:"), SE_MaxBodySize);
    form->addRow(QStringLiteral("Request header lines [bytes]:"), SE_MaxHeaderSize);
    form->addRow(QStringLiteral("Requests of all connections [bytes]:"), SE_MaxRequestMemory);
    return group;
}

void TNetworkPage::ShowConfig(const TKAV_GeneralConfig& AConfig) {
    E_CertFile->setText(QString::fromStdString(AConfig.TLSCertFile));
    E_KeyFile->setText(QString::fromStdString(AConfig.TLSKeyFile));
    UpdateCertificateLine();
    SE_MaxConnectionsPerIP->setValue(AConfig.MaxConnectionsPerIP);
    SE_HeadTimeoutUnderLoad->setValue(AConfig.HeadTimeoutUnderLoad);
    SE_MaxBodySize->setValue(AConfig.MaxBodySize);
    SE_MaxHeaderSize->setValue(AConfig.MaxHeaderSize);
    SE_MaxRequestMemory->setValue(AConfig.MaxRequestMemory);
}

void TNetworkPage::ApplyControls(TKAV_GeneralConfig& AConfig) const {
    AConfig.TLSCertFile = E_CertFile->text().toStdString();
    AConfig.TLSKeyFile = E_KeyFile->text().toStdString();
    AConfig.MaxConnectionsPerIP = SE_MaxConnectionsPerIP->value();
    AConfig.HeadTimeoutUnderLoad = SE_HeadTimeoutUnderLoad->value();
    AConfig.MaxBodySize = SE_MaxBodySize->value();
    AConfig.MaxHeaderSize = SE_MaxHeaderSize->value();
    AConfig.MaxRequestMemory = SE_MaxRequestMemory->value();
}
