// A window page whose controls edit settings: one table binds each control to its field of the
// settings record, and the page copies in both directions and says when a control changed.
// Window's thread only.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "config/config.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// One control and the field it shows and edits.
template <class TControl, class TValue> struct TBind {
    TControl* Control;
    TValue TKAV_GeneralConfig::*Field;
};

// A switch in a check box, a number in a number field, a text in a line, a choice of texts in a
// drop-down list, a list in a text field (one entry a line: empty lines are left out, a line of
// blanks stays).
using TSettingBinding =
    std::variant<TBind<QCheckBox, bool>, TBind<QSpinBox, int32_t>, TBind<QLineEdit, std::string>,
                 TBind<QComboBox, std::string>, TBind<QPlainTextEdit, std::vector<std::string>>>;

class TBoundPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The page's table: every control that edits a setting, with its field.
    virtual std::vector<TSettingBinding> Bindings() const = 0;

    // Copies the record into the controls, then lets the page follow (ConfigShown). A list
    // field gets each entry followed by a line break, so it ends with an empty line.
    void ShowConfig(const TKAV_GeneralConfig& AConfig);
    // Copies every bound control into the record.
    void ApplyControls(TKAV_GeneralConfig& AConfig) const;

signals:
    // A bound control's value changed.
    void Changed();

protected:
    // Emits Changed when a bound control changes, except those in AOwnSignal, which the page
    // reports itself (a file name when its field is left, not at each key). Call at the end of
    // the constructor.
    void ConnectBindings(const std::vector<const QWidget*>& AOwnSignal = {});
    // After ShowConfig: what depends on the controls' values (wrap modes, a certificate line).
    virtual void ConfigShown() {}
};
