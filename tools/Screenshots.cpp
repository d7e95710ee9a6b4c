// skav_screenshots: pictures of every page of the window for the README. Starts the window on a
// program directory that tools/screenshots.sh prepares (AutoStart on), sends it a few hits,
// then saves each tab, named after its caption ("&Logging": logging.png), into OUT-DIR.
//   skav_screenshots PROGRAM-DIR OUT-DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "base/ProgramDir.h"
#include "shell/TMainForm.h"
#include "tracking/TTrackingService.h"

namespace {

// Runs the event loop for AMs milliseconds, or until ADone says so.
void Serve(
    int AMs, const std::function<bool()>& ADone = [] { return false; }) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < AMs && !ADone())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// One request on 127.0.0.1:APort, its answer read to the end.
void Request(int APort, const std::string& ARequest) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, ARequest.data(), ARequest.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(ARequest.size())) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    ::close(fd);
}

// A few hits of different kinds, sent from another thread while the window serves.
void SendHits(int APort) {
    const char* const hits[][3] = {
        {"/t.gif?page=home&id=17", "Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0",
         "http://shop.example/"},
        {"/t.gif?page=cart&id=17", "Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0",
         "http://shop.example/cart"},
        {"/robots.txt", "ExampleBot/2.1", ""},
        {"/", "curl/7.88.1", ""}};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        for (const auto& hit : hits)
            Request(APort, std::string("GET ") + hit[0] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                               "User-Agent: " + hit[1] + "\r\nReferer: " + hit[2] +
                               "\r\nAccept: */*\r\n\r\n");
        done = true;
    });
    Serve(20000, [&] { return done.load(); });
    sender.join();
}

QString FileNameOf(QString ACaption) {
    return ACaption.remove(QLatin1Char('&')).toLower().replace(QLatin1Char(' '), QLatin1Char('-')) +
           QStringLiteral(".png");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: skav_screenshots PROGRAM-DIR OUT-DIR\n", stderr);
        return 2;
    }
    SetProgramDir(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    TMainForm::TDialogs dialogs;
    dialogs.AskYesNo = [](const QString&) { return true; };
    TMainForm form(0, dialogs); // port 0: one the system picks
    form.show();
    Serve(10000, [&] { return form.Service().ServerRunning(); });
    if (!form.Service().ServerRunning()) {
        std::fputs("skav_screenshots: the server did not start (AutoStart=1?)\n", stderr);
        return 1;
    }
    SendHits(form.Service().ListeningPort());
    int failed = 0;
    for (int i = 0; i < form.PageControl1->count(); ++i) {
        form.PageControl1->setCurrentIndex(i);
        Serve(1500); // a page may read its data on a worker thread
        const QString path = out.filePath(FileNameOf(form.PageControl1->tabText(i)));
        if (form.grab().save(path))
            std::printf("%s\n", qPrintable(path));
        else
            ++failed;
    }
    form.close();
    return failed == 0 ? 0 : 1;
}
