#include "tcp/TNetComponent.h"

#include <gtest/gtest.h>

#include "tcp/NetExceptions.h"

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
