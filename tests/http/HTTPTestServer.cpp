#include "HTTPTestServer.h"

#include "support/LoopbackClient.h"

#include <gtest/gtest.h>

int Start(TNetHTTPServer& AServer) {
    AServer.Bindings().Clear();
    TNetSocketHandle& binding = AServer.Bindings().AddBinding();
    binding.SetIP("127.0.0.1");
    binding.SetPort(0);
    AServer.SetActive(true);
    return AServer.Bindings().Items(0).Port();
}

std::string Ask(int APort, const std::string& ARequest, bool AShutdown) {
    const auto wait = std::chrono::seconds(10);
    LoopbackClient client;
    EXPECT_TRUE(client.Connect(APort));
    client.Send(ARequest);
    if (AShutdown)
        client.ShutdownSend();
    const auto started = std::chrono::steady_clock::now();
    std::string bytes = client.ReadUntilClose(wait);
    EXPECT_LT(std::chrono::steady_clock::now() - started, wait)
        << "not closed after " << ARequest.substr(0, 60);
    return bytes;
}

void TCalls::Add(const std::string& ALine) {
    std::lock_guard lock(FLock);
    FLines.push_back(ALine);
    FAdded.notify_all();
}

std::vector<std::string> TCalls::Wait(size_t ACount) {
    std::unique_lock lock(FLock);
    FAdded.wait_for(lock, std::chrono::seconds(10), [&] { return FLines.size() >= ACount; });
    return FLines;
}
