// Request bytes from memory for the HTTP request reader: handed out in pieces of a given size,
// then the close (or, stalling, nothing more ever). Used by the reader's tests and the fuzz
// target; one thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "http/TNetHTTPRequestReader.h"
#include "tcp/NetExceptions.h"

class TMemoryHTTPInput : public INetHTTPInput {
public:
    // AStall: after the last piece the client neither sends nor closes; a fill then waits out
    // its time (at most 5 ms, so that the reader's deadline is met soon).
    TMemoryHTTPInput(std::string ABytes, size_t AStep, bool AStall = false)
        : FRest(std::move(ABytes)), FStep(AStep), FStall(AStall) {}
    const char* Data() const override { return FBuffer.data(); }
    size_t Size() const override { return FBuffer.size(); }
    void Discard(size_t ACount) override { FBuffer.erase(0, ACount); }
    size_t Fill(int ATimeout) override {
        if (FRest.empty() && FStall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ATimeout, 5)));
            return 0;
        }
        if (FRest.empty())
            throw ENetConnClosedGracefully();
        const std::string piece = FRest.substr(0, FStep);
        FRest.erase(0, piece.size());
        FBuffer += piece;
        return piece.size();
    }

private:
    std::string FBuffer, FRest;
    size_t FStep;
    bool FStall;
};
