#include "shell/Controls.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

QCheckBox* NewCheckBox(QWidget* AParent, const char* AName, const QString& AText, bool AChecked) {
    auto* box = new QCheckBox(AText, AParent);
    box->setObjectName(QString::fromLatin1(AName));
    box->setChecked(AChecked);
    return box;
}

QLineEdit* NewLineEdit(QWidget* AParent, const char* AName, const QString& APlaceholder) {
    auto* edit = new QLineEdit(AParent);
    edit->setObjectName(QString::fromLatin1(AName));
    edit->setPlaceholderText(APlaceholder);
    return edit;
}

QPushButton* NewButton(QWidget* AParent, const char* AName, const QString& AText) {
    auto* button = new QPushButton(AText, AParent);
    button->setObjectName(QString::fromLatin1(AName));
    return button;
}

QSpinBox* NewSpinBox(QWidget* AParent, const char* AName, int AMin, int AMax, int AValue,
                     int AStep) {
    auto* spin = new QSpinBox(AParent);
    spin->setObjectName(QString::fromLatin1(AName));
    spin->setRange(AMin, AMax);
    spin->setSingleStep(AStep);
    spin->setValue(AValue);
    return spin;
}

QPlainTextEdit* NewTextField(QWidget* AParent, const char* AName, bool ALogView) {
    auto* field = new QPlainTextEdit(AParent);
    field->setObjectName(QString::fromLatin1(AName));
    if (ALogView) {
        field->setUndoRedoEnabled(false);
        field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    return field;
}

QWidget* NewRow(QWidget* AParent, QWidget* AWide, QWidget* ANarrow) {
    auto* row = new QWidget(AParent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(AWide, 1);
    layout->addWidget(ANarrow);
    return row;
}
