// The program without a window: the tracking service on a terminal or under a service manager.
// Runs on the main thread, which carries out the screen-list changes.
#pragma once

#include "app/Options.h"

// Loads the settings, starts the server and serves until SIGINT or SIGTERM; SIGHUP re-reads
// the settings and lists. The port, certificate and key of AOptions replace those of the
// settings for this run. The exit status. Signals must not have been unblocked in other threads
// yet (it blocks them itself first).
int RunHeadlessApp(const TAppOptions& AOptions);
