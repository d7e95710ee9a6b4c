#include "tcp/TNetComponent.h"

#include "tcp/TNetStack.h"

TNetComponent::TNetComponent() {
    AddStackUser();
}

TNetComponent::~TNetComponent() {
    RemoveStackUser();
}

std::string TNetComponent::StatusText(TNetStatus AStatus, const std::string& AArgument) {
    switch (AStatus) {
    case TNetStatus::StatusResolving:
        return "Resolving hostname " + AArgument + ".";
    case TNetStatus::StatusConnecting:
        return "Connecting to " + AArgument + ".";
    case TNetStatus::StatusConnected:
        return "Connected.";
    case TNetStatus::StatusDisconnecting:
        return "Disconnecting from " + AArgument + ".";
    case TNetStatus::StatusDisconnected:
        return "Not connected.";
    case TNetStatus::StatusText:
        return AArgument;
    }
    return AArgument;
}

void TNetComponent::RaiseStatus(TNetStatus AStatus, const std::string& AArgument) {
    if (OnStatus)
        OnStatus(*this, AStatus, StatusText(AStatus, AArgument));
}

void TNetComponent::WorkStart(TWorkMode AWorkMode, int AWorkCountMax) {
    TWorkState& work = FWork[static_cast<int>(AWorkMode)];
    if (++work.Level != 1)
        return;
    work.Max = AWorkCountMax;
    work.Count = 0;
    if (OnWorkBegin)
        OnWorkBegin(*this, AWorkMode, AWorkCountMax);
}

void TNetComponent::WorkStep(TWorkMode AWorkMode, int AWorkCount) {
    TWorkState& work = FWork[static_cast<int>(AWorkMode)];
    if (work.Level < 1)
        return;
    work.Count += AWorkCount;
    if (OnWork)
        OnWork(*this, AWorkMode, work.Count);
}

void TNetComponent::WorkStop(TWorkMode AWorkMode) {
    TWorkState& work = FWork[static_cast<int>(AWorkMode)];
    if (work.Level == 1 && OnWorkEnd)
        OnWorkEnd(*this, AWorkMode);
    if (work.Level > 0)
        --work.Level;
}
