#include "app/PasswordCommand.h"

#include <cerrno>
#include <termios.h>
#include <unistd.h>

#include "config/TProfileFile.h"
#include "dashboard/DashboardPassword.h"

namespace {

// A password longer than this is no password anybody types.
constexpr std::size_t MaxPasswordBytes = 1024;

// One line of AIn without its line end; false at the end of the input before any line, or
// for a line that is too long.
bool ReadLine(int AIn, std::string& ALine) {
    ALine.clear();
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(AIn, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !ALine.empty();
        if (c == '\n')
            break;
        if (ALine.size() >= MaxPasswordBytes)
            return false;
        ALine += c;
    }
    if (!ALine.empty() && ALine.back() == '\r')
        ALine.pop_back();
    return true;
}

// Asks on AErr and reads a line from the terminal AIn with its echo off.
bool AskHidden(int AIn, std::FILE* AErr, const char* APrompt, std::string& ALine) {
    std::fputs(APrompt, AErr);
    std::fflush(AErr);
    termios saved{};
    const bool terminal = ::tcgetattr(AIn, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(AIn, TCSANOW, &quiet);
    }
    const bool read = ReadLine(AIn, ALine);
    if (terminal)
        ::tcsetattr(AIn, TCSANOW, &saved);
    std::fputc('\n', AErr);
    return read;
}

bool ReadPassword(int AIn, std::FILE* AErr, std::string& APassword) {
    if (!::isatty(AIn)) {
        if (ReadLine(AIn, APassword))
            return true;
        std::fputs("sk_kav: no password on the input (one line, at most 1024 bytes)\n", AErr);
        return false;
    }
    std::string again;
    if (!AskHidden(AIn, AErr, "New dashboard password: ", APassword) ||
        !AskHidden(AIn, AErr, "The same again: ", again)) {
        std::fputs("sk_kav: no password read\n", AErr);
        return false;
    }
    if (again != APassword) {
        std::fputs("sk_kav: the two passwords differ; nothing was written\n", AErr);
        return false;
    }
    return true;
}

} // namespace

int RunDashboardPassword(int AIn, std::FILE* AOut, std::FILE* AErr,
                         const std::string& ASettingsPath, int ARounds) {
    std::string password;
    if (!ReadPassword(AIn, AErr, password))
        return 1;
    if (password.empty()) {
        std::fputs("sk_kav: an empty password is no password; nothing was written\n", AErr);
        return 1;
    }
    const std::string hash = MakePasswordHash(password, ARounds);
    TProfileFile file(ASettingsPath);
    if (hash.empty() || !file.Load() || !file.WriteString("Dashboard", "PasswordHash", hash) ||
        !file.Save()) {
        std::fprintf(AErr, "sk_kav: cannot write the password into %s\n", ASettingsPath.c_str());
        return 1;
    }
    std::fprintf(AOut,
                 "The dashboard's password is in %s. A running sk_kav takes it when it reads its "
                 "settings again (SIGHUP: systemctl reload sk_kav); the window keeps its own "
                 "until \"Set password...\".\n",
                 ASettingsPath.c_str());
    return 0;
}
