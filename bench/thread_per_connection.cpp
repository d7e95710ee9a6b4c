// The least a server of our shape can do per hit, as a yardstick for tracking_load.sh: one
// thread accepts, every connection gets a new detached thread with a 256 KiB stack, which reads
// one request, reads the GIF from disk, answers it and appends one combined log line under a
// lock. No parsing, no limits, no second log: what it reaches is the ceiling of the design on
// the machine at hand, in the same run as ours and nginx.
//
// thread_per_connection PORT GIF LOGFILE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

const char* gGifPath = nullptr;
int gLog = -1;
std::mutex gLogLock;

void* Serve(void* AArgument) {
    const int client = static_cast<int>(reinterpret_cast<intptr_t>(AArgument));
    char request[8192];
    if (recv(client, request, sizeof request, 0) > 0) {
        char gif[256];
        ssize_t size = 0;
        if (int file = open(gGifPath, O_RDONLY | O_CLOEXEC); file >= 0) {
            size = read(file, gif, sizeof gif);
            close(file);
        }
        if (size < 0)
            size = 0;
        char answer[1024];
        int head = snprintf(answer, sizeof answer,
                            "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: %zd\r\n"
                            "Cache-Control: no-cache\r\nConnection: close\r\n\r\n",
                            size);
        std::copy(gif, gif + size, answer + head);
        send(client, answer, static_cast<size_t>(head + size), MSG_NOSIGNAL);
        const time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        char stamp[64];
        strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S %z", &local);
        char line[512];
        int length = snprintf(line, sizeof line,
                              "127.0.0.1 - - [%s] \"GET /t.gif HTTP/1.1\" 200 %zd \"-\" \"wrk\"\n",
                              stamp, size);
        std::lock_guard<std::mutex> guard(gLogLock);
        if (write(gLog, line, static_cast<size_t>(length)) < 0)
            perror("log");
    }
    close(client);
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s PORT GIF LOGFILE\n", argv[0]);
        return 2;
    }
    gGifPath = argv[2];
    gLog = open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int listening = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (gLog < 0 || bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listening, SOMAXCONN) != 0) {
        perror("thread_per_connection");
        return 1;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        const int client = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        pthread_t thread;
        if (pthread_create(&thread, &attributes, Serve,
                           reinterpret_cast<void*>(static_cast<intptr_t>(client))) != 0)
            close(client);
    }
}
