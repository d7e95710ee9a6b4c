// The "Dashboard" page of the main window: the statistics in a browser on a port of the
// program's own: its port and address, the password (asked for twice, kept only as its salted
// hash), the share link's token, and a button that opens it in the desktop's browser.
// Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QUrl;

// The main window tells the page where the dashboard answers (ShowState).
class TDashboardPage : public TBoundPage {
    Q_OBJECT

public:
    explicit TDashboardPage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;
    // The dashboard's address while it runs ("http://127.0.0.1:8089/"); empty when it is off.
    void ShowState(const QString& AAddress);

    // Asks for a new password twice; none when cancelled. Tests replace it.
    std::function<std::optional<QString>()> AskPassword;
    // Opens an address in the desktop's browser. Tests replace it.
    std::function<void(const QUrl& AUrl)> OpenUrl;
    // The rounds of the hash a new password is kept as. Tests use fewer.
    int HashRounds;

    QSpinBox* SE_DashboardPort;
    QLineEdit* E_DashboardBindAddress;
    QLabel* L_DashboardBindAddressCheck;
    QPushButton* B_SetPassword;
    QLabel* L_Password;
    QLineEdit* E_PasswordHash; // never shown: the settings keep the hash, the password never
    QLineEdit* E_ShareToken;
    QPushButton* B_NewShareToken;
    QLabel* L_ShareLink;
    QPushButton* B_OpenDashboard;
    QLabel* L_DashboardState;

    void B_SetPasswordClick();
    void B_NewShareTokenClick();
    void B_OpenDashboardClick();

protected:
    void ConfigShown() override;

private:
    void ShowPassword();
    void ShowShareLink();
    void AddressFieldChanged();

    QString FAddress;      // where the dashboard answers now
    QString FShownAddress; // the address field as last applied
};
