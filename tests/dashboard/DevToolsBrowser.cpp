#include "dashboard/DevToolsBrowser.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>

#include "http/TNetBase64Decoder.h"
#include "stats/StatsReport.h"
#include "support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;

void AppendUtf8(unsigned ACode, std::string& AOut) {
    if (ACode < 0x80) {
        AOut += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACode >> 6));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
        AOut += static_cast<char>(0xE0 | (ACode >> 12));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    }
}

} // namespace

std::string JsonStringMember(const std::string& AJson, const std::string& AName) {
    const std::string key = "\"" + AName + "\":\"";
    std::size_t at = AJson.find(key);
    if (at == std::string::npos)
        return {};
    std::string text;
    for (at += key.size(); at < AJson.size() && AJson[at] != '"'; ++at) {
        if (AJson[at] != '\\' || at + 1 >= AJson.size()) {
            text += AJson[at];
            continue;
        }
        const char escaped = AJson[++at];
        const char* plain = "\"\\/bfnrt";
        const char* meant = "\"\\/\b\f\n\r\t";
        if (const char* found = std::strchr(plain, escaped); found && escaped != '\0') {
            text += meant[found - plain];
        } else if (escaped == 'u' && at + 4 < AJson.size()) {
            AppendUtf8(static_cast<unsigned>(std::stoul(AJson.substr(at + 1, 4), nullptr, 16)),
                       text);
            at += 4;
        }
    }
    return text;
}

DevToolsBrowser::DevToolsBrowser(const std::string& AProfileDir) {
    int commands[2], answers[2];
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> args = HeadlessChromiumArgs(AProfileDir);
    args.insert(args.end(), {"--hide-scrollbars", "--window-size=1200,900",
                             "--remote-debugging-pipe", "about:blank"});
    FPid = StartProgram(args, "/dev/null", {{commands[0], 3}, {answers[1], 4}});
    ::close(commands[0]);
    ::close(answers[1]);
    FCommands = commands[1];
    FAnswers = answers[0];
    if (FPid < 0)
        return;
    const std::string target = Call("Target.createTarget", "{\"url\":\"about:blank\"}", true);
    const std::string targetId = JsonStringMember(target, "targetId");
    if (targetId.empty())
        return;
    const std::string attached =
        Call("Target.attachToTarget", "{\"targetId\":\"" + targetId + "\",\"flatten\":true}", true);
    FSession = JsonStringMember(attached, "sessionId");
    for (const char* domain : {"Page.enable", "Runtime.enable", "Log.enable"})
        Call(domain, "{}");
}

DevToolsBrowser::~DevToolsBrowser() {
    if (FPid > 0) {
        Call("Browser.close", "{}", true);
        EndProgram(FPid, 10s);
    }
    ::close(FCommands);
    ::close(FAnswers);
}

std::string DevToolsBrowser::Call(const std::string& AMethod, const std::string& AParams,
                                  bool ABrowser) {
    if (FPid <= 0)
        return {};
    const int id = FNextId++;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + AMethod +
                          "\",\"params\":" + AParams +
                          (ABrowser ? "" : ",\"sessionId\":\"" + FSession + "\"") + "}";
    message += '\0';
    for (std::size_t at = 0; at < message.size();) {
        const ssize_t n = ::write(FCommands, message.data() + at, message.size() - at);
        if (n <= 0)
            return {};
        at += static_cast<std::size_t>(n);
    }
    const std::string mark = "{\"id\":" + std::to_string(id) + ",";
    std::string answer;
    ReadUntil([&](const std::string& AMessage) { return AMessage.rfind(mark, 0) == 0; }, 30s,
              &answer);
    return answer;
}

bool DevToolsBrowser::ReadUntil(const std::function<bool(const std::string&)>& AWanted,
                                std::chrono::milliseconds ATimeout, std::string* AFound) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        for (std::size_t end; (end = FPending.find('\0')) != std::string::npos;) {
            std::string message = FPending.substr(0, end);
            FPending.erase(0, end + 1);
            if (message.find("\"method\":") != std::string::npos &&
                message.rfind("{\"id\":", 0) != 0)
                FEvents.push_back(message);
            if (AWanted(message)) {
                if (AFound)
                    *AFound = std::move(message);
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{FAnswers, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[65536];
        const ssize_t n = ::read(FAnswers, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        FPending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::size_t DevToolsBrowser::LoadCount() const {
    std::size_t count = 0;
    for (const std::string& event : FEvents)
        count += event.find("\"method\":\"Page.loadEventFired\"") != std::string::npos ? 1 : 0;
    return count;
}

bool DevToolsBrowser::WaitForLoadAfter(std::size_t ABefore) {
    return LoadCount() > ABefore ||
           ReadUntil(
               [](const std::string& AMessage) {
                   return AMessage.find("\"method\":\"Page.loadEventFired\"") != std::string::npos;
               },
               30s);
}

bool DevToolsBrowser::Navigate(const std::string& AUrl) {
    const std::size_t before = LoadCount();
    return !Call("Page.navigate", "{\"url\":" + JsonText(AUrl) + "}").empty() &&
           WaitForLoadAfter(before);
}

bool DevToolsBrowser::RunAndWaitForLoad(const std::string& AScript) {
    const std::size_t before = LoadCount();
    (void)Evaluate(AScript + ";\"\"");
    return WaitForLoadAfter(before);
}

std::string DevToolsBrowser::Evaluate(const std::string& AExpression) {
    const std::string answer = Call("Runtime.evaluate", "{\"expression\":" + JsonText(AExpression) +
                                                            ",\"returnByValue\":true}");
    return JsonStringMember(answer, "value");
}

std::string DevToolsBrowser::Screenshot() {
    const std::string answer =
        Call("Page.captureScreenshot", "{\"format\":\"png\",\"captureBeyondViewport\":true}");
    try {
        return TNetBase64Decoder().Decode(JsonStringMember(answer, "data"));
    } catch (...) {
        return {};
    }
}

std::vector<std::string> DevToolsBrowser::Complaints() const {
    std::vector<std::string> complaints;
    for (const std::string& event : FEvents) {
        const bool dialog = event.find("\"Page.javascriptDialogOpening\"") != std::string::npos;
        const bool thrown = event.find("\"Runtime.exceptionThrown\"") != std::string::npos;
        const bool console = event.find("\"Runtime.consoleAPICalled\"") != std::string::npos &&
                             event.find("\"type\":\"error\"") != std::string::npos;
        const bool logged = event.find("\"Log.entryAdded\"") != std::string::npos &&
                            event.find("\"level\":\"error\"") != std::string::npos;
        if (dialog || thrown || console || logged)
            complaints.push_back(event);
    }
    return complaints;
}
