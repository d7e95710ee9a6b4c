// The "Privacy" page of the main window: what the records keep of a visitor (masked
// addresses, visitor ids, Do-Not-Track, credentials) and how many days of log files stay.
// Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

class QCheckBox;
class QLabel;
class QSpinBox;

// The controls start at the record's defaults, which stay in force when loading the settings
// fails.
class TPrivacyPage : public TBoundPage {
    Q_OBJECT

public:
    explicit TPrivacyPage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;

    // " Addresses ": the mask and the bits it keeps, with an example of what a record shows.
    QCheckBox* CB_MaskAddresses;
    QSpinBox* SE_KeepIPv4Bits;
    QSpinBox* SE_KeepIPv6Bits;
    QLabel* L_MaskExample;
    // " Visitors "
    QCheckBox* CB_VisitorIds;
    QCheckBox* CB_HonourDoNotTrack;
    // " Credentials "
    QCheckBox* CB_RedactCredentials;
    // " Retention ": days of log files kept (0: all)
    QSpinBox* SE_KeepLogDays;

protected:
    void ConfigShown() override { ShowMaskExample(); }

private:
    QWidget* BuildAddresses();
    QWidget* BuildVisitors();
    QWidget* BuildCredentials();
    QWidget* BuildRetention();
    void ShowMaskExample();
};
