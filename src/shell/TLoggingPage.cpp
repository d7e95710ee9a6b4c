#include "shell/TLoggingPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QVBoxLayout>

#include "shell/Controls.h"

namespace {

QByteArray Named(const char* AName, const QString& ASuffix) {
    return QByteArray(AName) + ASuffix.toLatin1();
}

} // namespace

TLoggingPage::TLoggingPage(QWidget* AParent) : TBoundPage(AParent) {
    setObjectName(QStringLiteral("TabLogging"));
    Splitter = new QSplitter(Qt::Horizontal, this);
    Splitter->setObjectName(QStringLiteral("Splitter1"));
    Splitter->setChildrenCollapsible(false);
    TPanel overview{};
    TPanel details{};
    Splitter->addWidget(
        BuildPanel(QStringLiteral(" Overview "), QStringLiteral("1"), 100, overview));
    Splitter->addWidget(
        BuildPanel(QStringLiteral(" Details "), QStringLiteral("2"), 1000, details));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Splitter);

    cb_LogToScreen1 = overview.LogToScreen;
    cb_LogToFile1 = overview.LogToFile;
    B_Clear1 = overview.Clear;
    cb_WrapLines1 = overview.WrapLines;
    CB_LimitScreenLog1 = overview.LimitScreenLog;
    SE_ScreenLogLines1 = overview.ScreenLogLines;
    B_SaveToFile1 = overview.SaveToFile;
    Memo1 = overview.Memo;

    cb_LogToScreen2 = details.LogToScreen;
    cb_LogToFile2 = details.LogToFile;
    B_Clear2 = details.Clear;
    cb_WrapLines2 = details.WrapLines;
    CB_LimitScreenLog2 = details.LimitScreenLog;
    SE_ScreenLogLines2 = details.ScreenLogLines;
    B_SaveToFile2 = details.SaveToFile;
    Memo2 = details.Memo;
    ConnectBindings({cb_WrapLines1, cb_WrapLines2});
}

std::vector<TSettingBinding> TLoggingPage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{cb_LogToScreen1, &C::OverviewLogToScreen},
        TBind{cb_LogToFile1, &C::OverviewLogToFile},
        TBind{cb_WrapLines1, &C::OverviewWrapLines},
        TBind{CB_LimitScreenLog1, &C::OverviewLimitScreenLog},
        TBind{SE_ScreenLogLines1, &C::OverviewScreenLogLines},
        TBind{cb_LogToScreen2, &C::DetailLogToScreen},
        TBind{cb_LogToFile2, &C::DetailLogToFile},
        TBind{cb_WrapLines2, &C::DetailWrapLines},
        TBind{CB_LimitScreenLog2, &C::DetailLimitScreenLog},
        TBind{SE_ScreenLogLines2, &C::DetailScreenLogLines},
    };
}

void TLoggingPage::ConfigShown() {
    SetWrap(Memo1, cb_WrapLines1->isChecked());
    SetWrap(Memo2, cb_WrapLines2->isChecked());
}

void TLoggingPage::SetWrap(QPlainTextEdit* AMemo, bool AWrap) {
    AMemo->setLineWrapMode(AWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    AMemo->setHorizontalScrollBarPolicy(AWrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    AMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

QWidget* TLoggingPage::BuildPanel(const QString& ACaption, const QString& ASuffix, int AMinLines,
                                  TPanel& APanel) {
    auto* group = new QGroupBox(ACaption, this);
    group->setObjectName(QString::fromLatin1(Named("GB_Log", ASuffix)));
    auto* controls = new QHBoxLayout;
    controls->addWidget(BuildLogTo(ASuffix, APanel));
    controls->addWidget(BuildScreenlog(ASuffix, AMinLines, APanel), 1);
    APanel.Memo = NewTextField(group, Named("Memo", ASuffix).constData(), true);
    auto* layout = new QVBoxLayout(group);
    layout->addLayout(controls);
    layout->addWidget(APanel.Memo, 1);
    SetWrap(APanel.Memo, APanel.WrapLines->isChecked());
    return group;
}

QGroupBox* TLoggingPage::BuildLogTo(const QString& ASuffix, TPanel& APanel) {
    auto* group = new QGroupBox(QStringLiteral(" Log to ... "), this);
    APanel.LogToScreen = NewCheckBox(group, Named("cb_LogToScreen", ASuffix).constData(),
                                     QStringLiteral("Screen"), false);
    APanel.LogToFile = NewCheckBox(group, Named("cb_LogToFile", ASuffix).constData(),
                                   QStringLiteral("File"), false);
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(APanel.LogToScreen);
    layout->addWidget(APanel.LogToFile);
    layout->addStretch(1);
    return group;
}

QGroupBox* TLoggingPage::BuildScreenlog(const QString& ASuffix, int AMinLines, TPanel& APanel) {
    auto* group = new QGroupBox(QStringLiteral(" Screenlog "), this);
    APanel.Clear = NewButton(group, Named("B_Clear", ASuffix).constData(), QStringLiteral("Clear"));
    APanel.WrapLines = NewCheckBox(group, Named("cb_WrapLines", ASuffix).constData(),
                                   QStringLiteral("&Wrap Lines"), false);
    APanel.LimitScreenLog = NewCheckBox(group, Named("CB_LimitScreenLog", ASuffix).constData(),
                                        QStringLiteral("L&imit to"), false);
    APanel.ScreenLogLines = NewSpinBox(group, Named("SE_ScreenLogLines", ASuffix).constData(),
                                       AMinLines, 1000000, 1000, 1000);
    auto* linesLabel = new QLabel(QStringLiteral("li&nes"), group);
    linesLabel->setBuddy(APanel.ScreenLogLines);
    APanel.SaveToFile = NewButton(group, Named("B_SaveToFile", ASuffix).constData(),
                                  QStringLiteral("Sa&ve to file"));
    auto* layout = new QGridLayout(group);
    layout->addWidget(APanel.Clear, 0, 0);
    layout->addWidget(APanel.WrapLines, 0, 1);
    layout->addWidget(APanel.SaveToFile, 0, 2, 1, 2);
    layout->addWidget(APanel.LimitScreenLog, 1, 0);
    layout->addWidget(APanel.ScreenLogLines, 1, 1, 1, 2);
    layout->addWidget(linesLabel, 1, 3);
    return group;
}
