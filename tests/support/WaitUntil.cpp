#include "support/WaitUntil.h"

#include <filesystem>
#include <iterator>
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

bool OnlyThisThreadLeft(std::chrono::milliseconds ATimeout) {
    return WaitUntil(
        [] {
            std::error_code error;
            std::filesystem::directory_iterator tasks("/proc/self/task", error);
            return !error && std::distance(tasks, std::filesystem::directory_iterator()) == 1;
        },
        ATimeout);
}
