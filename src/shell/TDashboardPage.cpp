#include "shell/TDashboardPage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include "config/config.h"
#include "dashboard/DashboardPassword.h"
#include "dashboard/TDashboardHandler.h"
#include "shell/Controls.h"
#include "tls/Crypto.h"

namespace {

QLabel* NewNote(QWidget* AParent, const char* AName) {
    auto* label = new QLabel(AParent);
    label->setObjectName(QString::fromLatin1(AName));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void SetWarning(QLabel* ALabel, bool AWarning) {
    ALabel->setStyleSheet(AWarning ? QStringLiteral("color: #b00020") : QString());
}

// The password twice, hidden; OK only while both say the same and are not empty.
std::optional<QString> AskPasswordTwice(QWidget* AParent) {
    QDialog dialog(AParent);
    dialog.setWindowTitle(QStringLiteral("Dashboard password"));
    auto* first = new QLineEdit(&dialog);
    auto* second = new QLineEdit(&dialog);
    for (QLineEdit* field : {first, second})
        field->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("New password:"), first);
    form->addRow(QStringLiteral("The same again:"), second);
    form->addRow(buttons);
    auto check = [&] {
        buttons->button(QDialogButtonBox::Ok)
            ->setEnabled(!first->text().isEmpty() && first->text() == second->text());
    };
    check();
    QObject::connect(first, &QLineEdit::textChanged, &dialog, check);
    QObject::connect(second, &QLineEdit::textChanged, &dialog, check);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return first->text();
}

} // namespace

TDashboardPage::TDashboardPage(QWidget* AParent) : TBoundPage(AParent), HashRounds(PasswordRounds) {
    setObjectName(QStringLiteral("TabDashboard"));
    auto* group = new QGroupBox(QStringLiteral(" Statistics in a browser "), this);
    group->setObjectName(QStringLiteral("GB_Dashboard"));
    SE_DashboardPort = NewSpinBox(group, "SE_DashboardPort", 0, PortRange.Max, 0);
    SE_DashboardPort->setSpecialValueText(QStringLiteral("0 (off)"));
    SE_DashboardPort->setKeyboardTracking(false); // a port is taken once typed, not per digit
    E_DashboardBindAddress =
        NewLineEdit(group, "E_DashboardBindAddress", QStringLiteral("every IPv4 and IPv6 address"));
    L_DashboardBindAddressCheck = NewNote(group, "L_DashboardBindAddressCheck");
    SetWarning(L_DashboardBindAddressCheck, true);
    B_SetPassword = NewButton(group, "B_SetPassword", QStringLiteral("Set password..."));
    L_Password = NewNote(group, "L_Password");
    E_PasswordHash = NewLineEdit(group, "E_PasswordHash", QString());
    E_PasswordHash->hide();
    E_ShareToken = NewLineEdit(group, "E_ShareToken", QStringLiteral("empty: no share link"));
    B_NewShareToken = NewButton(group, "B_NewShareToken", QStringLiteral("New"));
    L_ShareLink = NewNote(group, "L_ShareLink");
    B_OpenDashboard = NewButton(group, "B_OpenDashboard", QStringLiteral("Open in browser"));
    L_DashboardState = NewNote(group, "L_DashboardState");
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Port:"), SE_DashboardPort);
    form->addRow(QStringLiteral("Address:"), E_DashboardBindAddress);
    form->addRow(QString(), L_DashboardBindAddressCheck);
    form->addRow(QStringLiteral("Password:"), NewRow(group, L_Password, B_SetPassword));
    form->addRow(QStringLiteral("Share token:"), NewRow(group, E_ShareToken, B_NewShareToken));
    form->addRow(QString(), L_ShareLink);
    form->addRow(NewRow(group, L_DashboardState, B_OpenDashboard));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);
    AskPassword = [this] { return AskPasswordTwice(this); };
    OpenUrl = [](const QUrl& AUrl) { QDesktopServices::openUrl(AUrl); };
    connect(E_DashboardBindAddress, &QLineEdit::editingFinished, this,
            &TDashboardPage::AddressFieldChanged);
    connect(E_ShareToken, &QLineEdit::textChanged, this, &TDashboardPage::ShowShareLink);
    connect(E_PasswordHash, &QLineEdit::textChanged, this, &TDashboardPage::ShowPassword);
    connect(B_SetPassword, &QPushButton::clicked, this, &TDashboardPage::B_SetPasswordClick);
    connect(B_NewShareToken, &QPushButton::clicked, this, &TDashboardPage::B_NewShareTokenClick);
    connect(B_OpenDashboard, &QPushButton::clicked, this, &TDashboardPage::B_OpenDashboardClick);
    ShowPassword();
    ShowState(QString());
    ConnectBindings({E_DashboardBindAddress}); // AddressFieldChanged tells of that one
}

std::vector<TSettingBinding> TDashboardPage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{SE_DashboardPort, &C::DashboardPort},
        TBind{E_DashboardBindAddress, &C::DashboardBindAddress},
        TBind{E_PasswordHash, &C::DashboardPasswordHash},
        TBind{E_ShareToken, &C::DashboardShareToken},
    };
}

void TDashboardPage::ConfigShown() {
    FShownAddress = E_DashboardBindAddress->text();
    AddressFieldChanged(); // only its check line: the field is as shown
}

// A half-typed address would make the running dashboard stop and complain: it is taken when
// the field is left.
void TDashboardPage::AddressFieldChanged() {
    const QString address = E_DashboardBindAddress->text();
    L_DashboardBindAddressCheck->setText(
        ValidBindAddress(address.toStdString())
            ? QString()
            : QStringLiteral("Not an IPv4 or IPv6 address: the dashboard will not start."));
    if (address == FShownAddress)
        return;
    FShownAddress = address;
    emit Changed();
}

void TDashboardPage::ShowState(const QString& AAddress) {
    FAddress = AAddress;
    B_OpenDashboard->setEnabled(!AAddress.isEmpty());
    L_DashboardState->setText(AAddress.isEmpty() ? QStringLiteral("Off.")
                                                 : QStringLiteral("Answering at %1").arg(AAddress));
    ShowShareLink();
}

void TDashboardPage::ShowPassword() {
    L_Password->setText(E_PasswordHash->text().isEmpty()
                            ? QStringLiteral("None: the dashboard answers on this machine only, "
                                             "without signing in.")
                            : QStringLiteral("Set (kept as a salted hash)."));
}

void TDashboardPage::ShowShareLink() {
    const std::string token = E_ShareToken->text().toStdString();
    const bool usable = TDashboardHandler::UsableShareToken(token);
    QString text;
    if (!token.empty() && !usable)
        text = QStringLiteral("At least 16 letters, digits or - _ . ~: the share link is off.");
    else if (usable && !FAddress.isEmpty())
        text = QStringLiteral("Read-only link: %1share/%2/")
                   .arg(FAddress, QString::fromStdString(token));
    L_ShareLink->setText(text);
    SetWarning(L_ShareLink, !token.empty() && !usable);
}

void TDashboardPage::B_SetPasswordClick() {
    const std::optional<QString> password = AskPassword();
    if (!password || password->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor); // the hash takes a good part of a second
    const std::string hash = MakePasswordHash(password->toStdString(), HashRounds);
    QApplication::restoreOverrideCursor();
    if (!hash.empty())
        E_PasswordHash->setText(QString::fromStdString(hash)); // tells of the change
}

void TDashboardPage::B_NewShareTokenClick() {
    const std::string bytes = RandomBytes(16);
    if (!bytes.empty())
        E_ShareToken->setText(QString::fromStdString(HexText(bytes)));
}

void TDashboardPage::B_OpenDashboardClick() {
    if (!FAddress.isEmpty())
        OpenUrl(QUrl(FAddress));
}
