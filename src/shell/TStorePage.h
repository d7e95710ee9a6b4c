// The "Store" window page: the shared PostgreSQL store every instance feeds, the bound of the
// spool that holds hits while the database cannot take them, the daily file of JSON lines and
// the name this instance gives its hits. Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The controls start at the record's defaults, which stay in force when loading the settings
// fails.
class TStorePage : public TBoundPage {
    Q_OBJECT

public:
    explicit TStorePage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;

    // " Shared store "; the line below the connection says when it names a password.
    QLineEdit* E_StoreConnection;
    QLabel* L_StoreConnectionCheck;
    QSpinBox* SE_MaxSpoolBytes;
    // " JSON lines "
    QCheckBox* cb_JsonFile;
    QLineEdit* E_Instance;

protected:
    void ConfigShown() override { CheckConnection(); }

private:
    QGroupBox* BuildStore();
    QGroupBox* BuildExport();
    void CheckConnection();

    QFormLayout* FConnectionForm = nullptr; // the connection's group, with its warning row
};
