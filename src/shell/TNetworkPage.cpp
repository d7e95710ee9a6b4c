#include "shell/TNetworkPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "config/config.h"
#include "shell/Controls.h"

namespace {

QSpinBox* NewLimitBox(QWidget* AParent, const char* AName, TSettingRange ARange, int AValue,
                      int AStep) {
    return NewSpinBox(AParent, AName, ARange.Min, ARange.Max, AValue, AStep);
}

} // namespace

TNetworkPage::TNetworkPage(QWidget* AParent) : QWidget(AParent) {
    setObjectName(QStringLiteral("TabNetwork"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildLimits());
    layout->addWidget(BuildThreads());
    layout->addStretch(1);
    for (QSpinBox* box : {SE_MaxConnectionsPerIP, SE_HeadTimeoutUnderLoad, SE_MaxBodySize,
                          SE_MaxHeaderSize, SE_MaxRequestMemory, SE_ReuseThreads})
        connect(box, &QSpinBox::valueChanged, this, &TNetworkPage::Changed);
}

QGroupBox* TNetworkPage::BuildLimits() {
    auto* group = new QGroupBox(QStringLiteral(" Limits "), this);
    group->setObjectName(QStringLiteral("GB_Limits"));
    const TKAV_GeneralConfig defaults;
    SE_MaxConnectionsPerIP = NewLimitBox(group, "SE_MaxConnectionsPerIP", ConnectionsPerIPRange,
                                         defaults.MaxConnectionsPerIP, 1);
    SE_HeadTimeoutUnderLoad = NewLimitBox(group, "SE_HeadTimeoutUnderLoad", HeadTimeoutRange,
                                          defaults.HeadTimeoutUnderLoad, 100);
    SE_MaxBodySize =
        NewLimitBox(group, "SE_MaxBodySize", BodySizeRange, defaults.MaxBodySize, 1024);
    SE_MaxHeaderSize =
        NewLimitBox(group, "SE_MaxHeaderSize", HeaderSizeRange, defaults.MaxHeaderSize, 1024);
    SE_MaxRequestMemory = NewLimitBox(group, "SE_MaxRequestMemory", RequestMemoryRange,
                                      defaults.MaxRequestMemory, 1024 * 1024);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Connections per client address (0 = no limit):"),
                 SE_MaxConnectionsPerIP);
    form->addRow(QStringLiteral("Request head under load [ms]:"), SE_HeadTimeoutUnderLoad);
    form->addRow(QStringLiteral("Request body [bytes]:"), SE_MaxBodySize);
    form->addRow(QStringLiteral("Request header lines [bytes]:"), SE_MaxHeaderSize);
    form->addRow(QStringLiteral("Requests of all connections [bytes]:"), SE_MaxRequestMemory);
    return group;
}

QGroupBox* TNetworkPage::BuildThreads() {
    auto* group = new QGroupBox(QStringLiteral(" Threads "), this);
    group->setObjectName(QStringLiteral("GB_Threads"));
    SE_ReuseThreads = NewLimitBox(group, "SE_ReuseThreads", ReuseThreadsRange,
                                  TKAV_GeneralConfig().ReuseThreads, 1);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Threads kept for the next connections (0 = a new one each):"),
                 SE_ReuseThreads);
    return group;
}

void TNetworkPage::ShowConfig(const TKAV_GeneralConfig& AConfig) {
    SE_MaxConnectionsPerIP->setValue(AConfig.MaxConnectionsPerIP);
    SE_HeadTimeoutUnderLoad->setValue(AConfig.HeadTimeoutUnderLoad);
    SE_MaxBodySize->setValue(AConfig.MaxBodySize);
    SE_MaxHeaderSize->setValue(AConfig.MaxHeaderSize);
    SE_MaxRequestMemory->setValue(AConfig.MaxRequestMemory);
    SE_ReuseThreads->setValue(AConfig.ReuseThreads);
}

void TNetworkPage::ApplyControls(TKAV_GeneralConfig& AConfig) const {
    AConfig.MaxConnectionsPerIP = SE_MaxConnectionsPerIP->value();
    AConfig.HeadTimeoutUnderLoad = SE_HeadTimeoutUnderLoad->value();
    AConfig.MaxBodySize = SE_MaxBodySize->value();
    AConfig.MaxHeaderSize = SE_MaxHeaderSize->value();
    AConfig.MaxRequestMemory = SE_MaxRequestMemory->value();
    AConfig.ReuseThreads = SE_ReuseThreads->value();
}
