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

TEST(TNetComponentTest, WorkEventsNestPerMode) {
    TNetComponent component;
    std::vector<std::string> events;
    component.OnWorkBegin = [&](TNetComponent&, TWorkMode AMode, int AMax) {
        events.push_back("begin " + std::to_string(int(AMode)) + " " + std::to_string(AMax));
    };
    component.OnWork = [&](TNetComponent&, TWorkMode, int ACount) {
        events.push_back("work " + std::to_string(ACount));
    };
    component.OnWorkEnd = [&](TNetComponent&, TWorkMode AMode) {
        events.push_back("end " + std::to_string(int(AMode)));
    };
    component.WorkStep(TWorkMode::WorkRead, 5); // outside a begin: nothing
    component.WorkStart(TWorkMode::WorkRead, 10);
    component.WorkStart(TWorkMode::WorkRead, 99);
    component.WorkStep(TWorkMode::WorkRead, 3);
    component.WorkStep(TWorkMode::WorkRead, 4);
    component.WorkStop(TWorkMode::WorkRead);
    component.WorkStop(TWorkMode::WorkRead);
    component.WorkStop(TWorkMode::WorkWrite);
    EXPECT_EQ(events, (std::vector<std::string>{"begin 0 10", "work 3", "work 7", "end 0"}));
}

TEST(TNetComponentTest, EveryTransportFailureIsAnENetException) {
    auto caught = [](auto AException) {
        try {
            throw AException;
        } catch (const ENetException& e) {
            return std::string(e.what());
        }
    };
    EXPECT_EQ(caught(ENetConnClosedGracefully()), "Connection Closed Gracefully.");
    EXPECT_EQ(caught(ENetCouldNotBindSocket()),
              "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(caught(ENetStackSetSizeExceeded()), "Set Size Exceeded.");
    EXPECT_EQ(caught(ENetThreadClassNotSpecified()), "Thread Class Not Specified.");
    EXPECT_EQ(caught(ENetInvalidServiceName("smtp2")), "smtp2 is not a valid service.");
    EXPECT_EQ(caught(ENetStackCanNotLoadWinsock("wsock32.dll")),
              "wsock32.dll could not be loaded.");
}
