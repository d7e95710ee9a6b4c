// A name server that a test controls, in the place of the system's resolver: it answers from
// its table, or, while silent, holds every look-up until it speaks. Any thread.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

class FakeNameServer : public std::enable_shared_from_this<FakeNameServer> {
public:
    // Names by address; the address "throw" makes the look-up fail with an exception.
    explicit FakeNameServer(std::map<std::string, std::string> ANames = {}, bool ASilent = false)
        : FNames(std::move(ANames)), FSilent(ASilent) {}

    // The look-up to hand to the cache; it keeps the server alive while a thread is inside.
    std::function<std::string(const std::string&)> Lookup() {
        return [self = shared_from_this()](const std::string& AAddress) {
            return self->Answer(AAddress);
        };
    }
    // Answers every held look-up and the later ones at once, from ANames.
    void Speak(std::map<std::string, std::string> ANames) {
        std::lock_guard<std::mutex> guard(FLock);
        FNames = std::move(ANames);
        FSilent = false;
        FSpoke.notify_all();
    }
    int Calls() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FCalls;
    }
    // Look-ups that have returned.
    int Answered() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FCalls - FRunning;
    }
    int Running() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FRunning;
    }
    int MostRunning() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FMostRunning;
    }

private:
    std::string Answer(const std::string& AAddress) {
        std::unique_lock<std::mutex> lock(FLock);
        ++FCalls;
        FMostRunning = std::max(FMostRunning, ++FRunning);
        FSpoke.wait(lock, [&] { return !FSilent; });
        --FRunning;
        if (AAddress == "throw")
            throw std::runtime_error("the resolver failed");
        const auto found = FNames.find(AAddress);
        return found == FNames.end() ? std::string() : found->second;
    }

    mutable std::mutex FLock; // guards everything below
    std::condition_variable FSpoke;
    std::map<std::string, std::string> FNames;
    bool FSilent;
    int FCalls = 0;
    int FRunning = 0;
    int FMostRunning = 0;
};
