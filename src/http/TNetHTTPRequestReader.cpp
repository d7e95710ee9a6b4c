#include "http/TNetHTTPRequestReader.h"

#include "http/NetHTTPExceptions.h"
#include "http/NetHTTPText.h"

#include <algorithm>
#include <cstring>

TNetHTTPRequestReader::TNetHTTPRequestReader(INetHTTPInput& AInput, const TNetHTTPLimits& ALimits)
    : FInput(AInput), FLimits(ALimits),
      FDeadline(TClock::now() + std::chrono::milliseconds(ALimits.RequestTimeout)) {}

int TNetHTTPRequestReader::RemainingMs() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(FDeadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Never blocks past the deadline, so a client that trickles bytes cannot hold the thread.
void TNetHTTPRequestReader::FillOrFail() {
    for (;;) {
        const int remaining = RemainingMs();
        if (remaining <= 0)
            throw ENetHTTPRequestLimitExceeded("Request timed out.");
        if (FInput.Fill(remaining) > 0)
            return;
    }
}

std::string TNetHTTPRequestReader::ReadLine() {
    // The line may be MaxLineLength bytes plus CR; its LF must lie within the next byte.
    const size_t window = FLimits.MaxLineLength + 2;
    for (;;) {
        const size_t size = FInput.Size();
        const size_t searchEnd = size < window ? size : window;
        const void* lf = FSearched < searchEnd
                             ? std::memchr(FInput.Data() + FSearched, '\n', searchEnd - FSearched)
                             : nullptr;
        if (lf != nullptr) {
            const size_t length = static_cast<const char*>(lf) - FInput.Data();
            FSearched = 0;
            std::string line = FInput.Take(length + 1);
            line.pop_back();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > FLimits.MaxLineLength)
                throw ENetHTTPRequestLimitExceeded("Request line too long.");
            return line;
        }
        FSearched = searchEnd;
        if (size >= window)
            throw ENetHTTPRequestLimitExceeded("Request line too long.");
        FillOrFail();
    }
}

void TNetHTTPRequestReader::ReadHeaders(TNetHeaderList& AHeaders) {
    size_t blockSize = 0;
    for (int lines = 0;; ++lines) {
        std::string line = ReadLine();
        const bool last = TrimCtl(line).empty();
        if (!last && lines >= FLimits.MaxHeaderLines)
            throw ENetHTTPRequestLimitExceeded("Too many header lines.");
        blockSize += line.size() + 2;
        if (blockSize > FLimits.MaxHeaderSize)
            throw ENetHTTPRequestLimitExceeded("Request header too large.");
        AHeaders.Add(line);
        if (last)
            return;
    }
}

std::string TNetHTTPRequestReader::ReadBody(long long ALength) {
    if (ALength <= 0)
        return std::string();
    if (static_cast<unsigned long long>(ALength) > FLimits.MaxBodySize)
        throw ENetHTTPRequestLimitExceeded("Request body too large.");
    const size_t length = static_cast<size_t>(ALength);
    std::string body;
    while (body.size() < length) {
        if (FInput.Size() == 0)
            FillOrFail();
        const size_t take = std::min(FInput.Size(), length - body.size());
        body += FInput.Take(take);
    }
    FSearched = 0;
    return body;
}

std::string TNetHTTPRequestReader::ReadBodyUntilClose() {
    std::string body;
    try {
        for (;;) {
            if (FInput.Size() > 0) {
                if (body.size() + FInput.Size() > FLimits.MaxBodySize)
                    throw ENetHTTPRequestLimitExceeded("Request body too large.");
                body += FInput.Take(FInput.Size());
            }
            FillOrFail();
        }
    } catch (const ENetConnClosedGracefully&) {
        // The peer's close ends the body.
    }
    if (body.size() + FInput.Size() > FLimits.MaxBodySize)
        throw ENetHTTPRequestLimitExceeded("Request body too large.");
    if (FInput.Size() > 0)
        body += FInput.Take(FInput.Size());
    FSearched = 0;
    return body;
}
