// TNetComponent: the transport's component base with the status event and work-progress events.
// A component's events fire on the thread doing its I/O; construction and destruction on any
// thread.
#pragma once

#include <functional>
#include <string>

enum class TNetStatus {
    StatusResolving = 0,
    StatusConnecting = 1,
    StatusConnected = 2,
    StatusDisconnecting = 3,
    StatusDisconnected = 4,
    StatusText = 5
};

enum class TWorkMode { WorkRead = 0, WorkWrite = 1 };

class TNetComponent;

using TNetStatusEvent = std::function<void(TNetComponent& axSender, TNetStatus axStatus,
                                           const std::string& asStatusText)>;
using TWorkEvent = std::function<void(TNetComponent& Sender, TWorkMode AWorkMode, int AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TNetComponent& Sender, TWorkMode AWorkMode, int AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TNetComponent& Sender, TWorkMode AWorkMode)>;

// Every transport object derives from this class; each one counts as a user of the socket stack.
class TNetBaseComponent {
public:
    TNetBaseComponent() = default;
    virtual ~TNetBaseComponent() = default;
    TNetBaseComponent(const TNetBaseComponent&) = delete;
    TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;
};

class TNetComponent : public TNetBaseComponent {
public:
    TNetComponent();
    ~TNetComponent() override;

    TNetStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    // Formats the kind's text with AArgument and fires OnStatus, only when OnStatus is set.
    void RaiseStatus(TNetStatus AStatus, const std::string& AArgument = "");
    // The text of a status kind ("Disconnecting from %s." with the argument filled in).
    static std::string StatusText(TNetStatus AStatus, const std::string& AArgument);

    virtual void WorkStart(TWorkMode AWorkMode, int AWorkCountMax);
    virtual void WorkStep(TWorkMode AWorkMode, int AWorkCount);
    virtual void WorkStop(TWorkMode AWorkMode);

private:
    struct TWorkState {
        int Level = 0;
        int Max = 0;
        int Count = 0;
    };
    TWorkState FWork[2];
};
