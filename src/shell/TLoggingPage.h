// The "&Logging" page: the overview and detail screen logs with their controls, side by side.
// Window's thread only.
#pragma once

#include "shell/TBoundPage.h"

class QCheckBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSplitter;

// The main window connects the buttons and the wrap boxes, which change the screen logs too.
class TLoggingPage : public TBoundPage {
    Q_OBJECT

public:
    explicit TLoggingPage(QWidget* AParent = nullptr);

    std::vector<TSettingBinding> Bindings() const override;

    // Wraps long lines of a screen log with only a vertical scroll bar, or wraps none and
    // shows both scroll bars.
    static void SetWrap(QPlainTextEdit* AMemo, bool AWrap);

    QSplitter* Splitter;
    // Overview (left)
    QCheckBox* cb_LogToScreen1;
    QCheckBox* cb_LogToFile1;
    QPushButton* B_Clear1;
    QCheckBox* cb_WrapLines1;
    QCheckBox* CB_LimitScreenLog1;
    QSpinBox* SE_ScreenLogLines1;
    QPushButton* B_SaveToFile1;
    QPlainTextEdit* Memo1;
    // Details (right)
    QCheckBox* cb_LogToScreen2;
    QCheckBox* cb_LogToFile2;
    QPushButton* B_Clear2;
    QCheckBox* cb_WrapLines2;
    QCheckBox* CB_LimitScreenLog2;
    QSpinBox* SE_ScreenLogLines2;
    QPushButton* B_SaveToFile2;
    QPlainTextEdit* Memo2;

protected:
    // Each screen log wraps as its box says, whatever it did before.
    void ConfigShown() override;

private:
    // One side's controls; ASuffix is "1" or "2".
    struct TPanel {
        QCheckBox* LogToScreen;
        QCheckBox* LogToFile;
        QPushButton* Clear;
        QCheckBox* WrapLines;
        QCheckBox* LimitScreenLog;
        QSpinBox* ScreenLogLines;
        QPushButton* SaveToFile;
        QPlainTextEdit* Memo;
    };
    QWidget* BuildPanel(const QString& ACaption, const QString& ASuffix, int AMinLines,
                        TPanel& APanel);
    QGroupBox* BuildLogTo(const QString& ASuffix, TPanel& APanel);
    QGroupBox* BuildScreenlog(const QString& ASuffix, int AMinLines, TPanel& APanel);
};
