#include "NetTestHelpers.h"

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tcp/TNetStack.h"

bool WaitUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int ActivateOnLoopback(TNetTCPServer& AServer) {
    AServer.Bindings().Clear();
    AServer.Bindings().AddBinding().SetIP("127.0.0.1");
    AServer.SetActive(true);
    return AServer.Bindings().Items(0).Port();
}

void EchoLine(TNetPeerThread& AThread) {
    TNetTCPConnection& connection = *AThread.ServedConnection();
    std::string line = connection.ReadLine();
    connection.SendLine("echo " + line);
    connection.CloseConnection();
}

std::vector<std::unique_ptr<LoopbackClient>> ConnectClients(int APort, int ACount) {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < ACount; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>());
        if (!clients.back()->Connect(APort))
            throw std::runtime_error("loopback connect failed");
    }
    return clients;
}

TConnectedPair::TConnectedPair() {
    Listening.SetIP("127.0.0.1");
    Listening.OpenSocket();
    Listening.BindLocal();
    Listening.StartListening(5);
    if (!Client.Connect(Listening.Port()))
        throw std::runtime_error("loopback connect failed");
    Connection.Binding().AcceptFrom(Listening.Descriptor());
}

int TTestStack::SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) {
    ++Sends;
    return TNetStackPosix::SendOn(ASocket, ABuffer, ALength, AFlags);
}

int TTestStack::AcceptOn(int ASocket, std::string& AIP, int& APort) {
    int left = AcceptFailures.load(); // only the listener accepts: no other thread counts down
    if (left > 0 && AcceptFailures.compare_exchange_strong(left, left - 1)) {
        errno = AcceptErrno.load();
        return Failed(-1);
    }
    return TNetStackPosix::AcceptOn(ASocket, AIP, APort);
}

namespace {
std::mutex GRetiredLock; // guards GRetired
// Never destroyed: a detached peer thread may use a retired stack while the process exits.
auto* GRetired = new std::vector<std::unique_ptr<TNetStack>>;

void Retire(std::unique_ptr<TNetStack> AStack) {
    std::lock_guard<std::mutex> lock(GRetiredLock);
    GRetired->push_back(std::move(AStack));
}
} // namespace

TInjectedStack::TInjectedStack() {
    auto stack = std::make_unique<TTestStack>();
    FStack = stack.get();
    Retire(ExchangeSocketStack(std::move(stack)));
}

TInjectedStack::~TInjectedStack() {
    Retire(ExchangeSocketStack(std::make_unique<TNetStackPosix>()));
}
