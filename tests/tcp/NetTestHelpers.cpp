#include "NetTestHelpers.h"

#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tcp/TNetStack.h"
#include "tcp/TNetThreadMgrReuse.h"

namespace {

// SKAV_THREAD_MGR=reuse runs every server of the suite that has no manager of its own under the
// manager that keeps threads; ctest runs the suite both ways.
const bool GManagerChosen = [] {
    const char* choice = std::getenv("SKAV_THREAD_MGR");
    if (choice != nullptr && std::string(choice) == "reuse")
        SetDefaultThreadMgrForTesting(
            [](TNetTCPServer* AOwner) { return std::make_shared<TNetThreadMgrReuse>(AOwner, 8); });
    return true;
}();

} // namespace

int ActivateOnLoopback(TNetTCPServer& AServer) {
    AServer.Bindings().Clear();
    TNetSocketHandle& binding = AServer.Bindings().AddBinding();
    binding.SetIP("127.0.0.1");
    binding.SetPort(0); // an HTTP server's default port is 80: tests run side by side
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
    if (!Connection.Binding().AcceptFrom(Listening.Descriptor()))
        throw std::runtime_error("the connection was not waiting to be accepted");
}
