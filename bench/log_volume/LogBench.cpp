// Clients and checks for bench/log_volume.sh; standard library and POSIX only.
//   LogBench flood PORT SECONDS CONNECTIONS BODY_BYTES HEADER_LINES HEADER_LINE_BYTES
//       one client floods the server; prints "<bytes of answered requests> <requests> <answered>"
//   LogBench hits PORT COUNT HEADER_BYTES DOCUMENT
//       COUNT GETs one after another; prints "<answered> <seconds>"
//   LogBench check-log FILE      every line is a whole combined line: "<lines> <bad>"
//   LogBench check-log2 FILE     every block starts where a block starts: "<blocks> <bad>"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

int Connect(int APort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(APort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

// Sends the request and reads the answer until the server closes; true when it answered.
bool Exchange(int APort, const std::string& ARequest) {
    const int fd = Connect(APort);
    if (fd < 0)
        return false;
    std::size_t sent = 0;
    while (sent < ARequest.size()) {
        const ssize_t n = ::send(fd, ARequest.data() + sent, ARequest.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return sent == ARequest.size() && answer.rfind("HTTP/1.1 ", 0) == 0;
}

std::string Headers(int ALines, int ALineBytes) {
    std::string text = "User-Agent: Mozilla/5.0 (X11; Linux x86_64) LogBench/1.0\r\n";
    for (int i = 0; i < ALines; ++i)
        text += "X-Filler-" + std::to_string(i) + ": " + std::string(ALineBytes, 'h') + "\r\n";
    return text;
}

int Flood(int APort, int ASeconds, int AConnections, int ABody, int AHeaderLines,
          int AHeaderBytes) {
    std::string body;
    while (static_cast<int>(body.size()) < ABody)
        body += "p" + std::to_string(body.size()) + "=v&";
    body.resize(static_cast<std::size_t>(ABody));
    const std::string request =
        (ABody > 0 ? "POST" : "GET") + std::string(" /t.gif?id=7 HTTP/1.1\r\n") +
        Headers(AHeaderLines, AHeaderBytes) + "Content-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    std::atomic<long long> bytes{0}, requests{0}, answered{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(ASeconds);
    std::vector<std::thread> clients;
    for (int c = 0; c < AConnections; ++c)
        clients.emplace_back([&] {
            while (std::chrono::steady_clock::now() < end) {
                ++requests;
                if (Exchange(APort, request)) {
                    ++answered;
                    bytes += static_cast<long long>(request.size());
                }
            }
        });
    for (std::thread& client : clients)
        client.join();
    std::printf("%lld %lld %lld\n", bytes.load(), requests.load(), answered.load());
    return 0;
}

int Hits(int APort, int ACount, int AHeaderBytes, const std::string& ADocument) {
    const std::string request =
        "GET " + ADocument + " HTTP/1.1\r\nHost: bench\r\n" + Headers(1, AHeaderBytes) + "\r\n";
    int answered = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ACount; ++i)
        answered += Exchange(APort, request) ? 1 : 0;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%d %.3f\n", answered, took.count());
    return 0;
}

std::string ReadAll(const char* APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Takes AText from AAt up to the next ADelimiter (which must not appear in it); false if none.
bool Field(const std::string& AText, std::size_t& AAt, char ADelimiter, bool ANoBlank = false) {
    const std::size_t end = AText.find(ADelimiter, AAt);
    if (end == std::string::npos)
        return false;
    if (ANoBlank && AText.find(' ', AAt) < end)
        return false;
    AAt = end + 1;
    return true;
}

bool Expect(const std::string& AText, std::size_t& AAt, const std::string& AWhat) {
    if (AText.compare(AAt, AWhat.size(), AWhat) != 0)
        return false;
    AAt += AWhat.size();
    return true;
}

bool Digits(const std::string& AText, std::size_t& AAt, char ADelimiter) {
    const std::size_t start = AAt;
    if (AAt < AText.size() && AText[AAt] == '-')
        ++AAt;
    while (AAt < AText.size() && AText[AAt] >= '0' && AText[AAt] <= '9')
        ++AAt;
    return AAt > start && AAt < AText.size() && AText[AAt++] == ADelimiter;
}

// host ident user [dd/Mon/yyyy:hh:mm:ss +zzzz] "request" status size "referer" "agent"
bool IsCombinedLine(const std::string& ALine) {
    static const std::regex date(R"(\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4})");
    std::size_t at = 0;
    if (!Field(ALine, at, ' ', true) || !Field(ALine, at, ' ', true) ||
        !Field(ALine, at, ' ', true) || !Expect(ALine, at, "[") || ALine.size() < at + 26 ||
        !std::regex_match(ALine.substr(at, 26), date))
        return false;
    at += 26;
    if (!Expect(ALine, at, "] \"") || !Field(ALine, at, '"') || !Expect(ALine, at, " ") ||
        !Digits(ALine, at, ' ') || !Digits(ALine, at, ' ') || !Expect(ALine, at, "\"") ||
        !Field(ALine, at, '"') || !Expect(ALine, at, " \"") || !Field(ALine, at, '"'))
        return false;
    return at == ALine.size();
}

std::vector<std::string> SplitCrLf(const std::string& AText) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= AText.size();) {
        std::size_t end = AText.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(AText.substr(start)); // what follows the last line end
            break;
        }
        lines.push_back(AText.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int CheckLog(const char* APath) {
    const std::vector<std::string> lines = SplitCrLf(ReadAll(APath));
    long count = 0, bad = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ++count;
        bad += IsCombinedLine(lines[i]) ? 0 : 1;
    }
    bad += lines.back().empty() ? 0 : 1; // a torn record without its line end
    std::printf("%ld %ld\n", count, bad);
    return 0;
}

bool StartsWith(const std::string& AText, const char* AStart) {
    return AText.rfind(AStart, 0) == 0;
}

// Checks one block from line AAt on and moves past it; false when it is not whole.
bool IsBlock(const std::vector<std::string>& ALines, std::size_t& AAt) {
    static const std::regex stamp(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3} -------------- )");
    auto next = [&]() -> const std::string* {
        return AAt < ALines.size() ? &ALines[AAt++] : nullptr;
    };
    const std::string* line = next();
    if (!line || !line->empty() || !(line = next()) || !std::regex_match(*line, stamp))
        return false;
    if (!(line = next()))
        return false;
    if (StartsWith(*line, "NICKNAME: ") && !(line = next()))
        return false;
    const char* heads[] = {"From: ", "Command: ", "Document: "};
    for (const char* head : heads) {
        if (!line || !StartsWith(*line, head))
            return false;
        line = next();
    }
    if (line && *line == "--- URI PARAMS START:") {
        while ((line = next()) && *line != "--- URI PARAMS END") {
        }
        line = next();
    }
    if (!line || *line != "--- HTTP HEADERS START:")
        return false;
    while ((line = next()) && *line != "--- HTTP HEADERS END") {
    }
    return line != nullptr;
}

int CheckLog2(const char* APath) {
    const std::vector<std::string> lines = SplitCrLf(ReadAll(APath));
    long blocks = 0, bad = 0;
    // Each block begins with an empty line and ends with its end marker and a line end; the
    // text after the last line end must be empty.
    std::size_t at = 0;
    while (at + 1 < lines.size()) {
        ++blocks;
        if (!IsBlock(lines, at)) {
            ++bad;
            while (at + 1 < lines.size() && !lines[at].empty()) // on to the next block
                ++at;
        }
    }
    bad += lines.back().empty() ? 0 : 1;
    std::printf("%ld %ld\n", blocks, bad);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "flood" && argc == 8)
        return Flood(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                     std::atoi(argv[6]), std::atoi(argv[7]));
    if (command == "hits" && argc == 6)
        return Hits(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (command == "check-log" && argc == 3)
        return CheckLog(argv[2]);
    if (command == "check-log2" && argc == 3)
        return CheckLog2(argv[2]);
    std::fprintf(stderr, "usage: see the top of LogBench.cpp\n");
    return 2;
}
