// A bounded wait for a condition that other threads make true. Any thread.
#pragma once

#include <chrono>
#include <functional>

// Polls APredicate every few milliseconds; true as soon as it holds, false after ATimeout.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

// Waits until the calling thread is the process's only one, at most ATimeout. Threads that free
// themselves are still ending when the server that ran them says it stopped; a process that
// ends meanwhile leaves their thread-local state (OpenSSL's error queue) unfreed, which the leak
// checker reports.
bool OnlyThisThreadLeft(std::chrono::milliseconds ATimeout = std::chrono::seconds(2));
