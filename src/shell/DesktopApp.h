// The desktop program: the Qt application around the main window, run until it closes.
// Main thread only, once per process.
#pragma once

#include <optional>

// Call after ProgramDir has been set. Without a display it says so on stderr (pointing to
// --headless) and returns 1; otherwise it runs the window and returns the exit status.
// APortOverride replaces ServerPort for this run without counting as a settings change.
// SIGTERM, SIGINT and SIGHUP close the window as a desktop session end does.
int RunDesktopApp(int& argc, char** argv, std::optional<int> APortOverride);

// True when a window can be shown: DISPLAY or WAYLAND_DISPLAY is set, or QT_QPA_PLATFORM
// names a platform (offscreen, vnc, ...) that needs neither.
bool DisplayAvailable();
