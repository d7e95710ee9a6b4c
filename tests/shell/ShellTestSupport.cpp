#include "ShellTestSupport.h"

#include <QPlainTextEdit>

#include "base/ProgramDir.h"
#include "shell/AboutDialog.h"
#include "shell/TSettingsPage.h"

#include <QLabel>

TMainForm::TDialogs TScriptedDialogs::Hooks() {
    TMainForm::TDialogs hooks;
    hooks.AskYesNo = [this](const QString& AQuestion) {
        Questions << AQuestion;
        if (Answers.empty())
            return false;
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    };
    hooks.ShowMessage = [this](const QString& AText) { Messages << AText; };
    hooks.ChooseSaveFile = [this](const QString&) { return SaveFile; };
    hooks.ChooseOpenFile = [this](const QString& ATitle, const QString&) {
        OpenTitles << ATitle;
        return OpenFiles.isEmpty() ? QString() : OpenFiles.takeFirst();
    };
    hooks.BrowseForFolder = [this](const std::string&, int, const std::string& AStart) {
        FolderStart = AStart;
        return Folder;
    };
    hooks.ShowAbout = [this](TKAV_AboutDialog& ADialog) {
        AboutCaption = ADialog.windowTitle();
        AboutVersion = ADialog.VersionLabel->text();
        AboutPos = ADialog.pos();
    };
    hooks.TrayAvailable = [this] { return TrayAvailable; };
    return hooks;
}

TFormFixture::TFormFixture(const std::optional<std::string>& AIni) {
    SetProgramDir(Dir.Path());
    if (AIni)
        Dir.WriteFile("sk_KAV.ini", *AIni);
}

TMainForm& TFormFixture::Create(std::optional<int> APortOverride) {
    FForm.reset();
    FForm = std::make_unique<TMainForm>(APortOverride, Dialogs.Hooks());
    return *FForm;
}

QString MessagesText(TMainForm& AForm) {
    return AForm.Settings->SysMemo->toPlainText();
}
