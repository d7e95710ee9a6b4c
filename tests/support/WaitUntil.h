// A bounded wait for a condition that other threads make true. Any thread.
#pragma once

#include <chrono>
#include <functional>

// Polls APredicate every few milliseconds; true as soon as it holds, false after ATimeout.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
