// The "Settings" page of the main window: every setting's control and the Messages list.
// Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// The controls start at the window's own initial values, which stay in force when loading the
// settings fails. The main window connects the two buttons.
class TSettingsPage : public TBoundPage {
    Q_OBJECT

public:
    explicit TSettingsPage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;

    // " Server Control "
    QLabel* Label2;
    QSpinBox* SE_Port;
    QPushButton* B_StartStop;
    QCheckBox* cb_AutoStart;
    QCheckBox* cb_GotoTNA;
    QPushButton* B_LogDir;
    // " Server Settings "
    QCheckBox* cb_ResolveHN;
    QCheckBox* cb_UseIFM;
    // " Response Headers "
    QCheckBox* cb_MaxAge;
    QSpinBox* SE_MaxAge;
    QCheckBox* cb_Private;
    QCheckBox* cb_NoCache;
    QCheckBox* cb_PNC;
    QCheckBox* cb_LastModified;
    QSpinBox* SE_LastModified;
    QCheckBox* cb_Expires;
    QSpinBox* SE_Expires;
    // " Nicknames (IP=Name)"
    QCheckBox* CB_UseNN;
    QPlainTextEdit* Memo_NickNames;
    // "Log IP-addresses (only) to "
    QCheckBox* CB_LNL;
    QCheckBox* CB_LNL1;
    QCheckBox* CB_LNL2;
    QPlainTextEdit* Memo_NoLogs;
    // " Messages "
    QPlainTextEdit* SysMemo;

private:
    QGroupBox* BuildServerControl();
    QGroupBox* BuildServerSettings();
    QGroupBox* BuildResponseHeaders();
    QGroupBox* BuildNickNames();
    QGroupBox* BuildNoLogs();
    QGroupBox* BuildMessages();
};
