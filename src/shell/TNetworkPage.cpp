#include "shell/TNetworkPage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
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

// An empty line while the field is right; what is wrong, in a warning colour, otherwise.
QLabel* NewCheckLine(QWidget* AParent, const char* AName) {
    auto* label = new QLabel(AParent);
    label->setObjectName(QString::fromLatin1(AName));
    label->setStyleSheet(QStringLiteral("color: #b00020"));
    label->setWordWrap(true);
    return label;
}

} // namespace

TNetworkPage::TNetworkPage(QWidget* AParent) : TBoundPage(AParent) {
    setObjectName(QStringLiteral("TabNetwork"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildHttps());
    layout->addWidget(BuildAddresses());
    layout->addWidget(BuildLimits());
    layout->addWidget(BuildThreads());
    UpdateCertificateLine();
    layout->addStretch(1);
    for (QLineEdit* edit : {E_BindAddress, E_TrustedProxies})
        connect(edit, &QLineEdit::textChanged, this, &TNetworkPage::CheckAddresses);
    ConnectBindings({E_CertFile, E_KeyFile}); // FileFieldChanged tells of those
}

std::vector<TSettingBinding> TNetworkPage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{E_CertFile, &C::TLSCertFile},
        TBind{E_KeyFile, &C::TLSKeyFile},
        TBind{SE_MaxConnectionsPerIP, &C::MaxConnectionsPerIP},
        TBind{SE_HeadTimeoutUnderLoad, &C::HeadTimeoutUnderLoad},
        TBind{SE_MaxBodySize, &C::MaxBodySize},
        TBind{SE_MaxHeaderSize, &C::MaxHeaderSize},
        TBind{SE_MaxRequestMemory, &C::MaxRequestMemory},
        TBind{SE_ReuseThreads, &C::ReuseThreads},
        TBind{E_BindAddress, &C::BindAddress},
        TBind{E_TrustedProxies, &C::TrustedProxies},
        TBind{CO_ForwardedHeader, &C::ForwardedHeader},
    };
}

// A path is taken when the field is left (or Enter pressed), not at every key: a half-typed
// name would be loaded, and complained of, by the running server.
QGroupBox* TNetworkPage::BuildHttps() {
    auto* group = new QGroupBox(QStringLiteral(" HTTPS "), this);
    group->setObjectName(QStringLiteral("GB_Https"));
    E_CertFile = NewLineEdit(group, "E_CertFile", QStringLiteral("empty: plain HTTP only"));
    E_KeyFile = NewLineEdit(group, "E_KeyFile",
                            QStringLiteral("empty: the key is in the certificate file"));
    B_CertFile = NewButton(group, "B_CertFile", QStringLiteral("Browse..."));
    B_KeyFile = NewButton(group, "B_KeyFile", QStringLiteral("Browse..."));
    L_Certificate = new QLabel(group);
    L_Certificate->setObjectName(QStringLiteral("L_Certificate"));
    L_Certificate->setWordWrap(true);
    L_Certificate->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Certificate chain (PEM):"), NewRow(group, E_CertFile, B_CertFile));
    form->addRow(QStringLiteral("Key (PEM):"), NewRow(group, E_KeyFile, B_KeyFile));
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
    L_Certificate->setStyleSheet(summary.Warning ? QStringLiteral("color: #b00020") : QString());
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
    CO_ForwardedHeader = new QComboBox(group);
    CO_ForwardedHeader->setObjectName(QStringLiteral("CO_ForwardedHeader"));
    for (const char* name : ForwardedHeaderNames)
        CO_ForwardedHeader->addItem(QString::fromLatin1(name));
    form->addRow(QStringLiteral("Client address from their header:"), CO_ForwardedHeader);
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
