#include "HTTPTestServer.h"

#include "support/LoopbackClient.h"

HTTPTestServer::HTTPTestServer() : FServer(std::make_unique<TNetHTTPServer>()) {}

HTTPTestServer::~HTTPTestServer() {
    FServer->SetActive(false);
}

int HTTPTestServer::Start() {
    FServer->Bindings().Clear();
    TNetSocketHandle& binding = FServer->Bindings().AddBinding();
    binding.SetIP("127.0.0.1");
    binding.SetPort(0);
    FServer->SetActive(true);
    FPort = FServer->Bindings().Items(0).Port();
    return FPort;
}

TAnswer Ask(int APort, const std::string& ARequest, bool AShutdown,
            std::chrono::milliseconds AWait) {
    LoopbackClient client;
    TAnswer answer;
    if (!client.Connect(APort))
        return answer;
    client.Send(ARequest);
    if (AShutdown)
        client.ShutdownSend();
    const auto started = std::chrono::steady_clock::now();
    answer.Bytes = client.ReadUntilClose(AWait);
    answer.Closed = std::chrono::steady_clock::now() - started < AWait;
    return answer;
}
