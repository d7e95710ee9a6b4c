// Reads the parts of one request (lines, header block, body) from buffered input, within the
// server's size limits and one deadline for the whole request. Used by one peer thread.
#pragma once

#include "http/TNetHeaderList.h"

#include <chrono>
#include <cstddef>
#include <string>

// Where the reader takes bytes from: the connection's buffered input, or memory in tests.
class INetHTTPInput {
public:
    virtual ~INetHTTPInput() = default;
    // The bytes received and not yet taken.
    virtual const char* Data() const = 0;
    virtual size_t Size() const = 0;
    // Removes and returns the first ACount buffered bytes.
    virtual std::string Take(size_t ACount) = 0;
    // Waits up to ATimeout ms for more bytes and buffers them; the number received, 0 when none
    // came in time. Raises ENetConnClosedGracefully once the peer has closed.
    virtual size_t Fill(int ATimeout) = 0;
};

// The limits of one request; a request that breaks one fails with ENetHTTPRequestLimitExceeded.
struct TNetHTTPLimits {
    size_t MaxLineLength = 8 * 1024;  // request line and each header line, without CR LF
    int MaxHeaderLines = 100;         // header lines, the closing empty line not counted
    size_t MaxHeaderSize = 64 * 1024; // header lines with their line ends
    size_t MaxBodySize = 1024 * 1024; // by Content-Length or until the peer closes
    int RequestTimeout = 30000;       // ms for the whole request to arrive
};

class TNetHTTPRequestReader {
public:
    using TClock = std::chrono::steady_clock;

    // The deadline starts now.
    TNetHTTPRequestReader(INetHTTPInput& AInput, const TNetHTTPLimits& ALimits);

    // One line up to LF; a CR before the LF is dropped.
    std::string ReadLine();
    // Appends header lines to AHeaders up to and including the first line that is blank.
    void ReadHeaders(TNetHeaderList& AHeaders);
    // Exactly ALength bytes (a negative length reads nothing).
    std::string ReadBody(long long ALength);
    // Everything until the peer closes.
    std::string ReadBodyUntilClose();

private:
    // Waits for more input; past the deadline raises ENetHTTPRequestLimitExceeded.
    void FillOrFail();
    int RemainingMs() const;

    INetHTTPInput& FInput;
    const TNetHTTPLimits FLimits;
    const TClock::time_point FDeadline;
    size_t FSearched = 0; // buffered bytes known to hold no line feed
};
