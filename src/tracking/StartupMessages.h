// The Messages lines of a start: where the program keeps its files, and a warning when the
// settings record nothing. Pure; any thread.
#pragma once

#include <string>
#include <vector>

#include "config/config.h"

// The lines a front end writes after "Program started": the program and log directories, then,
// when both screen logs and both log files are off, that hits will not be recorded and which
// settings turn the logs on.
std::vector<std::string> StartupMessages(const TKAV_GeneralConfig& AConfig,
                                         const std::string& AProgramDir,
                                         const std::string& ALogDir);
