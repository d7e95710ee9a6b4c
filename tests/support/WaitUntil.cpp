#include "support/WaitUntil.h"

#include <thread>

bool WaitUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
