// Pieces for the main window's tests: a program directory of its own and scripted dialogs.
// Window's thread only.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "shell/TMainForm.h"
#include "support/TempDir.h"

// Answers the window's questions from a script and records everything it was asked or shown.
struct TScriptedDialogs {
    QStringList Questions;
    std::deque<bool> Answers; // taken in order; an unscripted question is answered No
    QStringList Messages;
    QString SaveFile;        // what the save dialog "chooses"; empty: cancelled
    std::string Folder;      // what the folder dialog "chooses"; empty: cancelled
    std::string FolderStart; // the initial folder it was given
    QStringList OpenFiles;   // what the open dialog "chooses", in turn; none left: cancelled
    QStringList OpenTitles;  // the titles it was opened with
    QString AboutCaption;
    QString AboutVersion;
    QPoint AboutPos; // where the about dialog's frame was put
    bool TrayAvailable = true;

    TMainForm::TDialogs Hooks();
};

// A program directory with an optional settings file and a window created on it.
class TFormFixture {
public:
    // AIni: the settings file's text, or none.
    explicit TFormFixture(const std::optional<std::string>& AIni = std::nullopt);

    // Creates (or re-creates) the window; the port override 0 lets the OS pick a free port.
    TMainForm& Create(std::optional<int> APortOverride = 0);
    void Destroy() { FForm.reset(); }
    TMainForm& Form() { return *FForm; }

    TempDir Dir;
    TScriptedDialogs Dialogs;

private:
    std::unique_ptr<TMainForm> FForm;
};

// The Messages list's text.
QString MessagesText(TMainForm& AForm);
