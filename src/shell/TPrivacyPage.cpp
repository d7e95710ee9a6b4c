#include "shell/TPrivacyPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/IPAddress.h"
#include "config/config.h"
#include "shell/Controls.h"

namespace {

QGroupBox* NewGroup(QWidget* AParent, const char* AName, const QString& ATitle) {
    auto* group = new QGroupBox(ATitle, AParent);
    group->setObjectName(QString::fromLatin1(AName));
    return group;
}

QLabel* NewNote(QWidget* AParent, const QString& AText) {
    auto* note = new QLabel(AText, AParent);
    note->setWordWrap(true);
    return note;
}

} // namespace

TPrivacyPage::TPrivacyPage(QWidget* AParent) : TBoundPage(AParent) {
    setObjectName(QStringLiteral("TabPrivacy"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildAddresses());
    layout->addWidget(BuildVisitors());
    layout->addWidget(BuildCredentials());
    layout->addWidget(BuildRetention());
    layout->addStretch(1);
    ShowMaskExample();
    for (QSpinBox* box : {SE_KeepIPv4Bits, SE_KeepIPv6Bits})
        connect(box, &QSpinBox::valueChanged, this, &TPrivacyPage::ShowMaskExample);
    connect(CB_MaskAddresses, &QCheckBox::toggled, this, &TPrivacyPage::ShowMaskExample);
    ConnectBindings();
}

std::vector<TSettingBinding> TPrivacyPage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{CB_MaskAddresses, &C::MaskAddresses},
        TBind{SE_KeepIPv4Bits, &C::KeepIPv4Bits},
        TBind{SE_KeepIPv6Bits, &C::KeepIPv6Bits},
        TBind{CB_VisitorIds, &C::VisitorIds},
        TBind{CB_HonourDoNotTrack, &C::HonourDoNotTrack},
        TBind{CB_RedactCredentials, &C::RedactCredentials},
        TBind{SE_KeepLogDays, &C::KeepLogDays},
    };
}

QWidget* TPrivacyPage::BuildAddresses() {
    QGroupBox* group = NewGroup(this, "GB_Addresses", QStringLiteral(" Addresses "));
    const TKAV_GeneralConfig defaults;
    CB_MaskAddresses =
        NewCheckBox(group, "CB_MaskAddresses", QStringLiteral("Mask visitor addresses"),
                    defaults.MaskAddresses);
    SE_KeepIPv4Bits = NewSpinBox(group, "SE_KeepIPv4Bits", KeepIPv4BitsRange.Min,
                                 KeepIPv4BitsRange.Max, defaults.KeepIPv4Bits);
    SE_KeepIPv6Bits = NewSpinBox(group, "SE_KeepIPv6Bits", KeepIPv6BitsRange.Min,
                                 KeepIPv6BitsRange.Max, defaults.KeepIPv6Bits);
    L_MaskExample = new QLabel(group);
    L_MaskExample->setObjectName(QStringLiteral("L_MaskExample"));
    L_MaskExample->setWordWrap(true);
    auto* form = new QFormLayout(group);
    form->addRow(CB_MaskAddresses);
    form->addRow(QStringLiteral("IPv4 bits kept:"), SE_KeepIPv4Bits);
    form->addRow(QStringLiteral("IPv6 bits kept:"), SE_KeepIPv6Bits);
    form->addRow(L_MaskExample);
    form->addRow(NewNote(group, QStringLiteral("In every record, the Messages and the statistics; "
                                               "no host name is looked up for a masked address. "
                                               "Nicknames and the no-log list still match the "
                                               "full address.")));
    return group;
}

QWidget* TPrivacyPage::BuildVisitors() {
    QGroupBox* group = NewGroup(this, "GB_Visitors", QStringLiteral(" Visitors "));
    const TKAV_GeneralConfig defaults;
    CB_VisitorIds =
        NewCheckBox(group, "CB_VisitorIds", QStringLiteral("Visitor ids"), defaults.VisitorIds);
    CB_HonourDoNotTrack =
        NewCheckBox(group, "CB_HonourDoNotTrack", QStringLiteral("Honour Do-Not-Track"),
                    defaults.HonourDoNotTrack);
    auto* form = new QFormLayout(group);
    form->addRow(CB_VisitorIds);
    form->addRow(NewNote(group, QStringLiteral("A keyed hash of address, User-Agent and Host "
                                               "under a key replaced every midnight: visitors "
                                               "are counted, no id leads back to an address.")));
    form->addRow(CB_HonourDoNotTrack);
    form->addRow(NewNote(group, QStringLiteral("Requests with Sec-GPC: 1 or DNT: 1 are recorded "
                                               "without anything of the visitor.")));
    return group;
}

QWidget* TPrivacyPage::BuildCredentials() {
    QGroupBox* group = NewGroup(this, "GB_Credentials", QStringLiteral(" Credentials "));
    CB_RedactCredentials =
        NewCheckBox(group, "CB_RedactCredentials", QStringLiteral("Redact credentials and cookies"),
                    TKAV_GeneralConfig().RedactCredentials);
    auto* form = new QFormLayout(group);
    form->addRow(CB_RedactCredentials);
    return group;
}

QWidget* TPrivacyPage::BuildRetention() {
    QGroupBox* group = NewGroup(this, "GB_Retention", QStringLiteral(" Retention "));
    SE_KeepLogDays = NewSpinBox(group, "SE_KeepLogDays", KeepLogDaysRange.Min, KeepLogDaysRange.Max,
                                TKAV_GeneralConfig().KeepLogDays);
    SE_KeepLogDays->setSpecialValueText(QStringLiteral("all"));
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Keep log files [days]:"), SE_KeepLogDays);
    form->addRow(NewNote(group, QStringLiteral("Older day files of the log directory are removed "
                                               "at the start and at each day change.")));
    return group;
}

void TPrivacyPage::ShowMaskExample() {
    if (!CB_MaskAddresses->isChecked()) {
        L_MaskExample->setText(QStringLiteral("Addresses are recorded in full."));
        return;
    }
    const int v4 = SE_KeepIPv4Bits->value(), v6 = SE_KeepIPv6Bits->value();
    L_MaskExample->setText(
        QStringLiteral("203.0.113.7 is recorded as %1, 2001:db8:1:2::7 as %2.")
            .arg(QString::fromStdString(MaskedAddressText("203.0.113.7", v4, v6)),
                 QString::fromStdString(MaskedAddressText("2001:db8:1:2::7", v4, v6))));
}
