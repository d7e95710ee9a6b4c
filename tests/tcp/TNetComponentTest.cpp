#include "tcp/TNetComponent.h"

#include <gtest/gtest.h>

#include "tcp/NetExceptions.h"

TEST(TNetComponentTest, StatusTextsAreFormattedOnlyForAListener) {
    TNetComponent component;
    component.RaiseStatus(TNetStatus::StatusDisconnecting, "1.2.3.4"); // no listener: nothing
    std::vector<std::string> texts;
    component.OnStatus = [&](TNetComponent& ASender, TNetStatus, const std::string& AText) {
        EXPECT_EQ(&ASender, &component);
        texts.push_back(AText);
    };
    component.RaiseStatus(TNetStatus::StatusDisconnecting, "1.2.3.4");
    component.RaiseStatus(TNetStatus::StatusDisconnected, "ignored");
    component.RaiseStatus(TNetStatus::StatusResolving, "host");
    EXPECT_EQ(texts, (std::vector<std::string>{"Disconnecting from 1.2.3.4.", "Not connected.",
                                               "Resolving hostname host."}));
}

TEST(TNetComponentTest, EveryTransportFailureIsAnENetException) {
    auto text = [](const ENetException& AException) { return std::string(AException.what()); };
    EXPECT_EQ(text(ENetConnClosedGracefully()), "Connection Closed Gracefully.");
    EXPECT_EQ(text(ENetCouldNotBindSocket()),
              "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(text(ENetStackSetSizeExceeded()), "Set Size Exceeded.");
    EXPECT_EQ(text(ENetThreadClassNotSpecified()), "Thread Class Not Specified.");
    EXPECT_EQ(text(ENetInvalidServiceName("smtp2")), "smtp2 is not a valid service.");
    EXPECT_EQ(text(ENetStackCanNotLoadWinsock("wsock32.dll")), "wsock32.dll could not be loaded.");
}
