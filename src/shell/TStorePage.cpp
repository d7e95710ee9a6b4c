#include "shell/TStorePage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "config/config.h"
#include "shell/Controls.h"
#include "store/TStoreConnection.h"

namespace {

QString HostName() {
    TKAV_GeneralConfig config;
    config.ExportInstance.clear();
    return QString::fromStdString(InstanceNameOf(config));
}

} // namespace

TStorePage::TStorePage(QWidget* AParent) : TBoundPage(AParent) {
    setObjectName(QStringLiteral("TabStore"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildStore());
    layout->addWidget(BuildExport());
    layout->addStretch(1);
    connect(E_StoreConnection, &QLineEdit::textChanged, this, &TStorePage::CheckConnection);
    ConnectBindings();
}

std::vector<TSettingBinding> TStorePage::Bindings() const {
    using C = TKAV_GeneralConfig;
    return {
        TBind{E_StoreConnection, &C::StoreConnection},
        TBind{SE_MaxSpoolBytes, &C::StoreMaxSpoolBytes},
        TBind{cb_JsonFile, &C::ExportJsonFile},
        TBind{E_Instance, &C::ExportInstance},
    };
}

QGroupBox* TStorePage::BuildStore() {
    auto* group = new QGroupBox(QStringLiteral(" Shared store "), this);
    group->setObjectName(QStringLiteral("GB_Store"));
    E_StoreConnection = NewLineEdit(group, "E_StoreConnection", QStringLiteral("none"));
    L_StoreConnectionCheck = new QLabel(group);
    L_StoreConnectionCheck->setObjectName(QStringLiteral("L_StoreConnectionCheck"));
    L_StoreConnectionCheck->setStyleSheet(QStringLiteral("color: #b00020"));
    L_StoreConnectionCheck->setWordWrap(true);
    SE_MaxSpoolBytes =
        NewSpinBox(group, "SE_MaxSpoolBytes", SpoolBytesRange.Min, SpoolBytesRange.Max,
                   TKAV_GeneralConfig().StoreMaxSpoolBytes, 1 << 20);
    auto* note = new QLabel(QStringLiteral("A libpq connection string or URI. Its password "
                                           "belongs in ~/.pgpass or PGPASSWORD."),
                            group);
    note->setWordWrap(true);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("PostgreSQL connection (from the next start):"), E_StoreConnection);
    form->addRow(QString(), L_StoreConnectionCheck);
    form->addRow(QString(), note);
    form->addRow(QStringLiteral("Spool while the database is away [bytes]:"), SE_MaxSpoolBytes);
    FConnectionForm = form;
    form->setRowVisible(L_StoreConnectionCheck, false);
    return group;
}

QGroupBox* TStorePage::BuildExport() {
    auto* group = new QGroupBox(QStringLiteral(" JSON lines "), this);
    group->setObjectName(QStringLiteral("GB_Export"));
    cb_JsonFile = NewCheckBox(group, "cb_JsonFile",
                              QStringLiteral("Write each hit to the daily .jsonl file"), false);
    E_Instance = NewLineEdit(group, "E_Instance", HostName());
    auto* form = new QFormLayout(group);
    form->addRow(cb_JsonFile);
    form->addRow(QStringLiteral("Instance name in every record:"), E_Instance);
    return group;
}

void TStorePage::CheckConnection() {
    const bool namesPassword =
        TStoreConnection::NamesPassword(E_StoreConnection->text().toStdString());
    L_StoreConnectionCheck->setText(
        namesPassword ? QStringLiteral("Names a password: the store is not used until it is gone.")
                      : QString());
    // Shown only with its warning: an empty row would leave a gap under the field.
    FConnectionForm->setRowVisible(L_StoreConnectionCheck, namesPassword);
}
