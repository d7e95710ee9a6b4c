// Request bytes from memory for the HTTP request reader: handed out in pieces of a given size,
// then the close. Used by the reader's tests and the fuzz target; one thread.
#pragma once

#include <string>

#include "http/TNetHTTPRequestReader.h"
#include "tcp/NetExceptions.h"

class TMemoryHTTPInput : public INetHTTPInput {
public:
    TMemoryHTTPInput(std::string ABytes, size_t AStep) : FRest(std::move(ABytes)), FStep(AStep) {}
    const char* Data() const override { return FBuffer.data(); }
    size_t Size() const override { return FBuffer.size(); }
    std::string Take(size_t ACount) override {
        std::string head = FBuffer.substr(0, ACount);
        FBuffer.erase(0, ACount);
        return head;
    }
    size_t Fill(int) override {
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
};
