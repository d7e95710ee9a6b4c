// The least a server of our shape can do per hit, as a yardstick for tracking_load.sh: one
// thread accepts, every connection gets a new detached thread with a 256 KiB stack, which reads
// one request, reads the GIF from disk, answers it and appends one combined log line under a
// lock. No parsing, no limits, no second log: what it reaches is the ceiling of the design on
// the machine at hand, in the same run as ours and nginx.
//
// Two options take it, step by step, towards ours, for ceiling_parts.sh:
//   --required     the system calls ours must make per hit and the ceiling does not: the GIF
//                  is looked at with stat (a changed file must be answered at the next hit)
//                  and served from memory, each log write is preceded by fstat of its file (a
//                  record must never go to a deleted file), and a detail record goes to a
//                  second file before the answer.
//   --user-us N    N microseconds of user-space work per hit that touch no memory: what ours
//                  spends on parsing, records and headers, without their allocations.
//
// thread_per_connection PORT GIF LOGFILE [--required] [--user-us N]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

const char* gGifPath = nullptr;
int gLog = -1;
std::mutex gLogLock;
bool gRequired = false;
int gDetail = -1;
std::mutex gDetailLock;
long gUserMicroseconds = 0;
char gCachedGif[256];
ssize_t gCachedSize = -1;
std::once_flag gCacheOnce;
const char gDashes[] = "----------------------------------------------------------------";

ssize_t ReadGif(char* ATarget, size_t ASize) {
    ssize_t size = -1;
    if (int file = open(gGifPath, O_RDONLY | O_CLOEXEC); file >= 0) {
        size = read(file, ATarget, ASize);
        close(file);
    }
    return size;
}

ssize_t LookAtGif(char* ATarget, size_t ASize) {
    if (!gRequired)
        return ReadGif(ATarget, ASize);
    struct stat status {};
    if (stat(gGifPath, &status) != 0)
        return -1;
    std::call_once(gCacheOnce, [] { gCachedSize = ReadGif(gCachedGif, sizeof gCachedGif); });
    const ssize_t size = std::min<ssize_t>(gCachedSize, static_cast<ssize_t>(ASize));
    if (size > 0)
        std::copy(gCachedGif, gCachedGif + size, ATarget);
    return size;
}

// Only the shape of a record matters here: its size and that it is written before the answer.
void WriteDetail(int AClient) {
    char record[256];
    const int length = snprintf(record, sizeof record,
                                "\r\n2026/12/09 12:00:00:000 %.64s\r\nGET /t.gif HTTP/1.1\r\n"
                                "Host: 127.0.0.1\r\nUser-Agent: wrk\r\nRemote: 127.0.0.1 #%d\r\n",
                                gDashes, AClient);
    std::lock_guard<std::mutex> guard(gDetailLock);
    struct stat status {};
    fstat(gDetail, &status);
    if (write(gDetail, record, static_cast<size_t>(length)) < 0)
        perror("detail log");
}

void SpendUserTime() {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::microseconds(gUserMicroseconds);
    volatile unsigned mix = 0;
    while (std::chrono::steady_clock::now() < end)
        for (unsigned i = 0; i < 64; ++i)
            mix = mix * 31 + i;
}

void* Serve(void* AArgument) {
    const int client = static_cast<int>(reinterpret_cast<intptr_t>(AArgument));
    char request[8192];
    if (recv(client, request, sizeof request, 0) > 0) {
        char gif[256];
        ssize_t size = LookAtGif(gif, sizeof gif);
        if (size < 0)
            size = 0;
        if (gRequired)
            WriteDetail(client);
        if (gUserMicroseconds > 0)
            SpendUserTime();
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
        if (gRequired) {
            struct stat status {};
            fstat(gLog, &status);
        }
        if (write(gLog, line, static_cast<size_t>(length)) < 0)
            perror("log");
    }
    close(client);
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    bool usage = argc < 4;
    for (int i = 4; i < argc && !usage; ++i) {
        if (strcmp(argv[i], "--required") == 0)
            gRequired = true;
        else if (strcmp(argv[i], "--user-us") == 0 && i + 1 < argc)
            gUserMicroseconds = atol(argv[++i]);
        else
            usage = true;
    }
    if (usage) {
        fprintf(stderr, "usage: %s PORT GIF LOGFILE [--required] [--user-us N]\n", argv[0]);
        return 2;
    }
    gGifPath = argv[2];
    gLog = open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (gRequired) {
        gDetail = open((std::string(argv[3]) + "2").c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (gDetail < 0) {
            perror("thread_per_connection");
            return 1;
        }
    }
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
