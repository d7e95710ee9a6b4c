// Runs a function when the scope ends, however it ends (return or exception). Header only;
// one object per scope and thread.
#pragma once

#include <utility>

template <typename TFunction> class ScopeExit {
public:
    explicit ScopeExit(TFunction AFunction) : FFunction(std::move(AFunction)) {}
    ~ScopeExit() { FFunction(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    TFunction FFunction;
};
