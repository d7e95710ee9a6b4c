#include "shell/DesktopApp.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "shell/TMainForm.h"

namespace {

// The write end of the pipe that carries a termination signal into the event loop.
int GSignalFd = -1;

void OnTerminationSignal(int) {
    const char byte = 1;
    if (GSignalFd >= 0)
        (void)!write(GSignalFd, &byte, 1); // async-signal-safe; a full pipe already wakes
}

bool EnvSet(const char* AName) {
    const char* value = std::getenv(AName);
    return value != nullptr && *value != '\0';
}

// Turns SIGTERM, SIGINT and SIGHUP into a session end of the window, so that the server is
// stopped and the window position kept, as when the desktop logs out.
class TSignalBridge {
public:
    explicit TSignalBridge(TMainForm& AForm) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, FFds) != 0)
            return;
        GSignalFd = FFds[0];
        FNotifier = std::make_unique<QSocketNotifier>(FFds[1], QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, &AForm, [this, &AForm] {
            char buffer[16];
            (void)!read(FFds[1], buffer, sizeof buffer);
            AForm.QueryEndSession();
        });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaction(signal, &action, nullptr);
    }
    ~TSignalBridge() {
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, SIG_DFL);
        GSignalFd = -1;
        FNotifier.reset();
        if (FFds[0] >= 0) {
            close(FFds[0]);
            close(FFds[1]);
        }
    }
    TSignalBridge(const TSignalBridge&) = delete;
    TSignalBridge& operator=(const TSignalBridge&) = delete;

private:
    int FFds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
};

} // namespace

bool DisplayAvailable() {
    if (EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY"))
        return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr || *platform == '\0')
        return false;
    const std::string name(platform);
    return name.rfind("xcb", 0) != 0 && name.rfind("wayland", 0) != 0;
}

int RunDesktopApp(int& argc, char** argv, std::optional<int> APortOverride) {
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "sk_kav: no display available (DISPLAY is not set); "
                             "run with --headless to serve without a window\n");
        return 1;
    }
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("sk_kav"));
        // A message box closed while the window hides in the tray must not end the program.
        QApplication::setQuitOnLastWindowClosed(false);
        TMainForm form(APortOverride);
        form.OnClosed = [] { QCoreApplication::quit(); };
        TSignalBridge bridge(form);
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sk_kav: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "sk_kav: unexpected failure\n");
    }
    return 1;
}
