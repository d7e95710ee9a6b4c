// The Messages lines of a start: where the program keeps its files, a warning when the
// settings record nothing, and the tag to paste into pages once the server listens. Pure; any
// thread.
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

// The host name the pages should use: the certificate's first name that is a plain host name,
// no wildcard (it is what browsers check), else ABindAddress when it is one address, else
// AMachineName.
std::string SnippetHost(const std::vector<std::string>& ACertificateNames,
                        const std::string& ABindAddress, const std::string& AMachineName);

// The line after "listening": the pixel's tag for AHost and the port listened on, https when a
// certificate serves, so that it can be copied into the pages as it stands.
std::string PixelSnippetLine(const std::string& AHost, int APort, bool ASecure);
