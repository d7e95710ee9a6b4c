#include "shell/TBoundPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <algorithm>

namespace {

void Show(QCheckBox* ABox, bool AValue) {
    ABox->setChecked(AValue);
}
void Show(QSpinBox* ASpin, int32_t AValue) {
    ASpin->setValue(AValue); // held within the field's range
}
void Show(QLineEdit* AEdit, const std::string& AValue) {
    AEdit->setText(QString::fromStdString(AValue));
}
void Show(QComboBox* ABox, const std::string& AValue) {
    ABox->setCurrentText(QString::fromStdString(AValue)); // one of its items
}
void Show(QPlainTextEdit* AField, const std::vector<std::string>& ALines) {
    QString text;
    for (const std::string& line : ALines)
        text += QString::fromStdString(line) + QLatin1Char('\n');
    AField->setPlainText(text);
}

bool ValueOf(const QCheckBox* ABox) {
    return ABox->isChecked();
}
int32_t ValueOf(const QSpinBox* ASpin) {
    return ASpin->value();
}
std::string ValueOf(const QLineEdit* AEdit) {
    return AEdit->text().toStdString();
}
std::string ValueOf(const QComboBox* ABox) {
    return ABox->currentText().toStdString();
}
std::vector<std::string> ValueOf(const QPlainTextEdit* AField) {
    std::vector<std::string> lines;
    for (const QString& line : AField->toPlainText().split(QLatin1Char('\n')))
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    return lines;
}

void Connect(QCheckBox* ABox, TBoundPage* APage) {
    QObject::connect(ABox, &QCheckBox::toggled, APage, &TBoundPage::Changed);
}
void Connect(QSpinBox* ASpin, TBoundPage* APage) {
    QObject::connect(ASpin, &QSpinBox::valueChanged, APage, &TBoundPage::Changed);
}
void Connect(QLineEdit* AEdit, TBoundPage* APage) {
    QObject::connect(AEdit, &QLineEdit::textChanged, APage, &TBoundPage::Changed);
}
void Connect(QComboBox* ABox, TBoundPage* APage) {
    QObject::connect(ABox, &QComboBox::currentIndexChanged, APage, &TBoundPage::Changed);
}
void Connect(QPlainTextEdit* AField, TBoundPage* APage) {
    QObject::connect(AField, &QPlainTextEdit::textChanged, APage, &TBoundPage::Changed);
}

} // namespace

void TBoundPage::ShowConfig(const TKAV_GeneralConfig& AConfig) {
    for (const TSettingBinding& binding : Bindings())
        std::visit([&](const auto& ABind) { Show(ABind.Control, AConfig.*ABind.Field); }, binding);
    ConfigShown();
}

void TBoundPage::ApplyControls(TKAV_GeneralConfig& AConfig) const {
    for (const TSettingBinding& binding : Bindings())
        std::visit([&](const auto& ABind) { AConfig.*ABind.Field = ValueOf(ABind.Control); },
                   binding);
}

void TBoundPage::ConnectBindings(const std::vector<const QWidget*>& AOwnSignal) {
    for (const TSettingBinding& binding : Bindings())
        std::visit(
            [&](const auto& ABind) {
                if (std::find(AOwnSignal.begin(), AOwnSignal.end(), ABind.Control) ==
                    AOwnSignal.end())
                    Connect(ABind.Control, this);
            },
            binding);
}
