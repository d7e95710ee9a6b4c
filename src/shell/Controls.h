// Small factories for the window's controls: each control gets its form name as object name.
// Window's thread only.
#pragma once

#include <QString>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QWidget;

QCheckBox* NewCheckBox(QWidget* AParent, const char* AName, const QString& AText, bool AChecked);
// A one-line field with APlaceholder shown while it is empty.
QLineEdit* NewLineEdit(QWidget* AParent, const char* AName, const QString& APlaceholder);
QPushButton* NewButton(QWidget* AParent, const char* AName, const QString& AText);
QSpinBox* NewSpinBox(QWidget* AParent, const char* AName, int AMin, int AMax, int AValue,
                     int AStep = 1);
// AWide with ANarrow beside it, as one row that gives AWide the room (a check box and its
// number, a file field and its Browse button).
QWidget* NewRow(QWidget* AParent, QWidget* AWide, QWidget* ANarrow);
// A multi-line text field; a log view keeps no undo history, so its memory stays bounded by
// the text it shows.
QPlainTextEdit* NewTextField(QWidget* AParent, const char* AName, bool ALogView);
