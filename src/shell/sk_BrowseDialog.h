// The folder dialog: a modal choice of one existing directory.
// Window's thread only.
#pragma once

#include <string>

class QWidget;

// Only file-system folders can be chosen (the one kind this dialog offers).
constexpr int BIF_RETURNONLYFSDIRS = 1;

// Opens a modal folder chooser owned by the active window (AParent when given) with ATitle as
// its caption. It starts at AInitialFolder when that names an existing directory (at the
// directory of an existing file), otherwise at the dialog's default place. Returns the chosen
// folder's absolute path without a trailing '/', or the empty text when the user cancels.
// AFlags is accepted for its callers; only file-system folders exist here.
std::string BrowseForFolder(const std::string& ATitle, int AFlags,
                            const std::string& AInitialFolder, QWidget* AParent = nullptr);

// The folder the dialog would start at: AInitialFolder when it is an existing directory, the
// directory of an existing file, otherwise the empty text (the default place).
std::string BrowseStartFolder(const std::string& AInitialFolder);
