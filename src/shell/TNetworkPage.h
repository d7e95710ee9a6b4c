// The "Network" page of the main window: HTTPS on the server's port, the address the server
// listens on and the proxies it believes, the limits that keep one client from holding the
// public port, and the threads kept for the next connections. Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The controls start at the record's defaults, which stay in force when loading the settings
// fails.
class TNetworkPage : public TBoundPage {
    Q_OBJECT

public:
    explicit TNetworkPage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;

    // The file a Browse button picks, starting at AStart; empty when cancelled. Set by the
    // main window (a dialog that tests replace).
    std::function<QString(const QString& ATitle, const QString& AStart)> ChooseFile;

    // " HTTPS ": the certificate and key files, and a line with the certificate's names and
    // expiry (in a warning colour when it ends within 14 days or the pair cannot serve).
    QLineEdit* E_CertFile;
    QPushButton* B_CertFile;
    QLineEdit* E_KeyFile;
    QPushButton* B_KeyFile;
    QLabel* L_Certificate;
    // Reads the two files again for the certificate line.
    void UpdateCertificateLine();

    // " Limits "
    QSpinBox* SE_MaxConnectionsPerIP;
    QSpinBox* SE_HeadTimeoutUnderLoad;
    QSpinBox* SE_MaxBodySize;
    QSpinBox* SE_MaxHeaderSize;
    QSpinBox* SE_MaxRequestMemory;
    // " Threads "
    QSpinBox* SE_ReuseThreads;

    // " Listening address and proxies "; each field with a line that says what is wrong in it.
    QLineEdit* E_BindAddress;
    QLabel* L_BindAddressCheck;
    QLineEdit* E_TrustedProxies;
    QLabel* L_TrustedProxiesCheck;
    QComboBox* CO_ForwardedHeader; // the header those proxies write the client into

protected:
    void ConfigShown() override { UpdateCertificateLine(); }

private:
    QGroupBox* BuildHttps();
    QGroupBox* BuildLimits();
    QGroupBox* BuildThreads();
    QGroupBox* BuildAddresses();
    // The check lines below the two address fields, for their present text.
    void CheckAddresses();
    void BrowseFor(QLineEdit* AField, const QString& ATitle);
    void FileFieldChanged();

    QString FShownCertFile; // the files the certificate line was read from
    QString FShownKeyFile;
};
