#include "shell/TNetworkPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "config/config.h"
#include "shell/Controls.h"

namespace {

QSpinBox* NewLimitBox(QWidget* AParent, const char* AName, TSettingRange ARange, int AValue,
                      int AStep) {
    return NewSpinBox(AParent, AName, ARange.Min, ARange.Max, AValue, AStep);
}

QLineEdit* NewLineEdit(QWidget* AParent, const char* AName, const QString& APlaceholder) {
    auto* edit = new QLineEdit(AParent);
    edit->setObjectName(QString::fromLatin1(AName));
    edit->setPlaceholderText(APlaceholder);
    return edit;
}

// An empty line while the field is right; what is wrong, in a warning colour, otherwise.
QLabel* NewCheckLine(QWidget* AParent, const char* AName) {
    auto* label = new QLabel(AParent);
    label->setObjectName(QString::fromLatin1(AName));
    label->setStyleSheet(QStringLiteral("color: #b00020"));
    label->setWordWrap(true);
    return label;
}

} // namespace

TNetworkPage::TNetworkPage(QWidget* AParent) : QWidget(AParent) {
    setObjectName(QStringLiteral("TabNetwork"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildLimits());
    layout->addWidget(BuildThreads());
    layout->addWidget(BuildAddresses());
    layout->addStretch(1);
    for (QSpinBox* box : {SE_MaxConnectionsPerIP, SE_HeadTimeoutUnderLoad, SE_MaxBodySize,
                          SE_MaxHeaderSize, SE_MaxRequestMemory, SE_ReuseThreads})
        connect(box, &QSpinBox::valueChanged, this, &TNetworkPage::Changed);
    for (QLineEdit* edit : {E_BindAddress, E_TrustedProxies}) {
        connect(edit, &QLineEdit::textChanged, this, &TNetworkPage::CheckAddresses);
        connect(edit, &QLineEdit::textChanged, this, &TNetworkPage::Changed);
    }
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

QGroupBox* TNetworkPage::BuildThreads() {
    auto* group = new QGroupBox(QStringLiteral(" Threads "), this);
    group->setObjectName(QStringLiteral("GB_Threads"));
    SE_ReuseThreads = NewLimitBox(group, "SE_ReuseThreads", ReuseThreadsRange,
                                  TKAV_GeneralConfig().ReuseThreads, 1);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Threads kept for the next connections (0 = a new one each):"),
                 SE_ReuseThreads);
    return group;
}

QGroupBox* TNetworkPage::BuildAddresses() {
    auto* group = new QGroupBox(QStringLiteral(" Listening address and proxies "), this);
    group->setObjectName(QStringLiteral("GB_Addresses"));
    E_BindAddress =
        NewLineEdit(group, "E_BindAddress", QStringLiteral("every IPv4 and IPv6 address"));
    L_BindAddressCheck = NewCheckLine(group, "L_BindAddressCheck");
    E_TrustedProxies = NewLineEdit(group, "E_TrustedProxies", QStringLiteral("none"));
    L_TrustedProxiesCheck = NewCheckLine(group, "L_TrustedProxiesCheck");
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Listen on address (from the next start):"), E_BindAddress);
    form->addRow(QString(), L_BindAddressCheck);
    form->addRow(QStringLiteral("Trusted proxies (addresses and ranges, comma-separated):"),
                 E_TrustedProxies);
    form->addRow(QString(), L_TrustedProxiesCheck);
    return group;
}

void TNetworkPage::CheckAddresses() {
    const std::string bindAddress = E_BindAddress->text().toStdString();
    L_BindAddressCheck->setText(
        ValidBindAddress(bindAddress)
            ? QString()
            : QStringLiteral("Not an IPv4 or IPv6 address: the server will not start."));
    std::vector<std::string> bad;
    (void)TrustedProxyRanges(E_TrustedProxies->text().toStdString(), &bad);
    QStringList items;
    for (const std::string& item : bad)
        items << QString::fromStdString(item);
    L_TrustedProxiesCheck->setText(bad.empty()
                                       ? QString()
                                       : QStringLiteral("Not an address or range, passed over: ") +
                                             items.join(QStringLiteral(", ")));
}

void TNetworkPage::ShowConfig(const TKAV_GeneralConfig& AConfig) {
    SE_MaxConnectionsPerIP->setValue(AConfig.MaxConnectionsPerIP);
    SE_HeadTimeoutUnderLoad->setValue(AConfig.HeadTimeoutUnderLoad);
    SE_MaxBodySize->setValue(AConfig.MaxBodySize);
    SE_MaxHeaderSize->setValue(AConfig.MaxHeaderSize);
    SE_MaxRequestMemory->setValue(AConfig.MaxRequestMemory);
    SE_ReuseThreads->setValue(AConfig.ReuseThreads);
    E_BindAddress->setText(QString::fromStdString(AConfig.BindAddress));
    E_TrustedProxies->setText(QString::fromStdString(AConfig.TrustedProxies));
}

void TNetworkPage::ApplyControls(TKAV_GeneralConfig& AConfig) const {
    AConfig.MaxConnectionsPerIP = SE_MaxConnectionsPerIP->value();
    AConfig.HeadTimeoutUnderLoad = SE_HeadTimeoutUnderLoad->value();
    AConfig.MaxBodySize = SE_MaxBodySize->value();
    AConfig.MaxHeaderSize = SE_MaxHeaderSize->value();
    AConfig.MaxRequestMemory = SE_MaxRequestMemory->value();
    AConfig.ReuseThreads = SE_ReuseThreads->value();
    AConfig.BindAddress = E_BindAddress->text().toStdString();
    AConfig.TrustedProxies = E_TrustedProxies->text().toStdString();
}
