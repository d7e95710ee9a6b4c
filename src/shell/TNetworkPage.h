// The "Network" page of the main window: the limits that keep one client from holding the
// public port, the threads kept for the next connections, the address the server listens on
// and the proxies it believes. Window's thread only.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
struct TKAV_GeneralConfig;

// Holds the controls; the main window copies them from and into the settings record. The
// controls start at the record's defaults, which stay in force when loading the settings fails.
class TNetworkPage : public QWidget {
    Q_OBJECT

public:
    explicit TNetworkPage(QWidget* AParent = nullptr);

    void ShowConfig(const TKAV_GeneralConfig& AConfig);
    void ApplyControls(TKAV_GeneralConfig& AConfig) const;

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

signals:
    // A control's value changed.
    void Changed();

private:
    QGroupBox* BuildLimits();
    QGroupBox* BuildThreads();
    QGroupBox* BuildAddresses();
    // The check lines below the two address fields, for their present text.
    void CheckAddresses();
};
