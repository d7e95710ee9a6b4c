#include "shell/TSettingsPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "shell/Controls.h"

namespace {

QGroupBox* NewGroup(QWidget* AParent, const QString& ACaption) {
    auto* group = new QGroupBox(ACaption, AParent);
    group->setLayout(new QVBoxLayout);
    return group;
}

} // namespace

TSettingsPage::TSettingsPage(QWidget* AParent) : TBoundPage(AParent) {
    setObjectName(QStringLiteral("TabSettings"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(BuildServerControl(), 0, 0);
    grid->addWidget(BuildServerSettings(), 1, 0);
    grid->addWidget(BuildResponseHeaders(), 2, 0);
    grid->addWidget(BuildNickNames(), 0, 1, 3, 1);
    grid->addWidget(BuildNoLogs(), 0, 2, 3, 1);
    grid->addWidget(BuildMessages(), 3, 0, 1, 3);
    grid->setRowStretch(2, 1);
    grid->setRowStretch(3, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    ConnectBindings();
}

std::vector<TSettingBinding> TSettingsPage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{cb_AutoStart, &C::AutoStart},
        TBind{cb_GotoTNA, &C::GotoTNA},
        TBind{SE_Port, &C::ServerPort},
        TBind{cb_ResolveHN, &C::ResolveHostNames},
        TBind{cb_UseIFM, &C::EvalIfModifiedSince},
        TBind{cb_MaxAge, &C::CacheControlMaxAge},
        TBind{SE_MaxAge, &C::CacheControlMaxAgeSecs},
        TBind{cb_Private, &C::CacheControlPrivate},
        TBind{cb_NoCache, &C::CacheControlNoCache},
        TBind{cb_PNC, &C::PragmaNoCache},
        TBind{cb_LastModified, &C::LastModified},
        TBind{SE_LastModified, &C::LastModifiedDays},
        TBind{cb_Expires, &C::Expires},
        TBind{SE_Expires, &C::ExpiresSecs},
        TBind{CB_UseNN, &C::UseNickNames},
        TBind{Memo_NickNames, &C::NickNames},
        TBind{CB_LNL, &C::LogNoLogs},
        TBind{CB_LNL1, &C::OverviewLogNoLogs},
        TBind{CB_LNL2, &C::DetailLogNoLogs},
        TBind{Memo_NoLogs, &C::NoLogs},
    };
}

QGroupBox* TSettingsPage::BuildServerControl() {
    QGroupBox* group = NewGroup(this, QStringLiteral(" Server Control "));
    Label2 = new QLabel(QStringLiteral("Port:"), group);
    Label2->setObjectName(QStringLiteral("Label2"));
    SE_Port = NewSpinBox(group, "SE_Port", 1, 65535, 80);
    Label2->setBuddy(SE_Port);
    B_StartStop = NewButton(group, "B_StartStop", QStringLiteral("&Start"));
    auto* row = new QWidget(group);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->addWidget(Label2);
    rowLayout->addWidget(SE_Port, 1);
    rowLayout->addWidget(B_StartStop);
    cb_AutoStart = NewCheckBox(group, "cb_AutoStart", QStringLiteral("AutoStart"), false);
    cb_GotoTNA = NewCheckBox(group, "cb_GotoTNA", QStringLiteral("Minimize->TNA"), false);
    B_LogDir = NewButton(group, "B_LogDir", QStringLiteral("Set Log Dir"));
    for (QWidget* w : {row, static_cast<QWidget*>(cb_AutoStart), static_cast<QWidget*>(cb_GotoTNA),
                       static_cast<QWidget*>(B_LogDir)})
        group->layout()->addWidget(w);
    return group;
}

QGroupBox* TSettingsPage::BuildServerSettings() {
    QGroupBox* group = NewGroup(this, QStringLiteral(" Server Settings "));
    cb_ResolveHN = NewCheckBox(group, "cb_ResolveHN", QStringLiteral("Resolve Hostnames"), true);
    cb_UseIFM =
        NewCheckBox(group, "cb_UseIFM", QStringLiteral("Evaluate \"If-Mofidified-Since\""), true);
    group->layout()->addWidget(cb_ResolveHN);
    group->layout()->addWidget(cb_UseIFM);
    return group;
}

QGroupBox* TSettingsPage::BuildResponseHeaders() {
    QGroupBox* group = NewGroup(this, QStringLiteral(" Response Headers "));
    cb_MaxAge =
        NewCheckBox(group, "cb_MaxAge", QStringLiteral("Cache-control: max-age [s]"), false);
    SE_MaxAge = NewSpinBox(group, "SE_MaxAge", 0, 100000, 0);
    cb_Private = NewCheckBox(group, "cb_Private", QStringLiteral("Cache-control: private"), false);
    cb_NoCache = NewCheckBox(group, "cb_NoCache", QStringLiteral("Cache-control: no-cache"), true);
    cb_PNC = NewCheckBox(group, "cb_PNC", QStringLiteral("Pragma: no-cache"), true);
    cb_LastModified =
        NewCheckBox(group, "cb_LastModified", QStringLiteral("Last-Modified: now - [days]"), true);
    SE_LastModified = NewSpinBox(group, "SE_LastModified", 0, 100000, 1);
    cb_Expires = NewCheckBox(group, "cb_Expires", QStringLiteral("Expires: now + [s]"), true);
    SE_Expires = NewSpinBox(group, "SE_Expires", 0, 100000, 3);
    QLayout* layout = group->layout();
    layout->addWidget(NewRow(group, cb_MaxAge, SE_MaxAge));
    layout->addWidget(cb_Private);
    layout->addWidget(cb_NoCache);
    layout->addWidget(cb_PNC);
    layout->addWidget(NewRow(group, cb_LastModified, SE_LastModified));
    layout->addWidget(NewRow(group, cb_Expires, SE_Expires));
    return group;
}

QGroupBox* TSettingsPage::BuildNickNames() {
    QGroupBox* group = NewGroup(this, QStringLiteral(" Nicknames (IP=Name)"));
    CB_UseNN = NewCheckBox(group, "CB_UseNN", QStringLiteral("Use"), false);
    Memo_NickNames = NewTextField(group, "Memo_NickNames", false);
    group->layout()->addWidget(CB_UseNN);
    group->layout()->addWidget(Memo_NickNames);
    return group;
}

QGroupBox* TSettingsPage::BuildNoLogs() {
    QGroupBox* group = NewGroup(this, QStringLiteral("Log IP-addresses (only) to "));
    CB_LNL = NewCheckBox(group, "CB_LNL", QStringLiteral("Screen"), false);
    CB_LNL1 = NewCheckBox(group, "CB_LNL1", QStringLiteral("File"), false);
    CB_LNL2 = NewCheckBox(group, "CB_LNL2", QStringLiteral("File (extended)"), false);
    Memo_NoLogs = NewTextField(group, "Memo_NoLogs", false);
    for (QWidget* w : {static_cast<QWidget*>(CB_LNL), static_cast<QWidget*>(CB_LNL1),
                       static_cast<QWidget*>(CB_LNL2), static_cast<QWidget*>(Memo_NoLogs)})
        group->layout()->addWidget(w);
    return group;
}

QGroupBox* TSettingsPage::BuildMessages() {
    QGroupBox* group = NewGroup(this, QStringLiteral(" Messages "));
    SysMemo = NewTextField(group, "SysMemo", true);
    group->layout()->addWidget(SysMemo);
    return group;
}
