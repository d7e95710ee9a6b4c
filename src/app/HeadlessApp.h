// The program without a window: the tracking service on a terminal or under a service manager.
// Runs on the main thread, which carries out the screen-list changes.
#pragma once

#include <optional>

// Loads the settings, starts the server and serves until SIGINT or SIGTERM; SIGHUP re-reads
// the settings and lists. The exit status. Signals must not have been unblocked in other
// threads yet (it blocks them itself first).
int RunHeadlessApp(std::optional<int> APortOverride);
