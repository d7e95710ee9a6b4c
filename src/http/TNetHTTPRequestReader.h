// Reads the parts of one request (lines, header block, body) from buffered input, within the
// server's size limits, one deadline for the whole request and the server's memory budget.
// Each step gives the reason of a refusal as a value. Used by one peer thread.
#pragma once

#include "http/TNetHTTPMemoryBudget.h"
#include "http/TNetHTTPRefusal.h"
#include "http/TNetHeaderList.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

// Where the reader takes bytes from: the connection's buffered input, or memory in tests.
class INetHTTPInput {
public:
    virtual ~INetHTTPInput() = default;
    // The bytes received and not yet taken.
    virtual const char* Data() const = 0;
    virtual size_t Size() const = 0;
    // Drops the first ACount buffered bytes.
    virtual void Discard(size_t ACount) = 0;
    // Waits up to ATimeout ms for more bytes and buffers them; the number received, 0 when none
    // came in time. Raises ENetConnClosedGracefully once the peer has closed.
    virtual size_t Fill(int ATimeout) = 0;
};

// The limits of one request.
struct TNetHTTPLimits {
    size_t MaxLineLength = 8 * 1024;  // request line and each header line, without CR LF
    int MaxHeaderLines = 100;         // header lines, the closing empty line not counted
    size_t MaxHeaderSize = 32 * 1024; // header lines with their line ends
    size_t MaxBodySize = 64 * 1024;   // by Content-Length or until the peer closes
    int RequestTimeout = 30000;       // ms for the whole request to arrive
};

// The body length the header announces: -1 without a Content-Length. Framing that cannot be
// trusted gives BadFraming: a value that is not plain decimal digits (blanks around it aside)
// or does not fit, two Content-Length lines that differ, any Transfer-Encoding.
[[nodiscard]] std::error_code BodyLengthOf(const TNetHeaderList& AHeaders, long long& ALength);

class TNetHTTPRequestReader {
public:
    using TClock = std::chrono::steady_clock;

    // The deadline starts now. Every byte received for the request is charged to ABudget (when
    // given) and given back when the reader goes.
    TNetHTTPRequestReader(INetHTTPInput& AInput, const TNetHTTPLimits& ALimits,
                          TNetHTTPMemoryBudget* ABudget = nullptr);
    ~TNetHTTPRequestReader();
    TNetHTTPRequestReader(const TNetHTTPRequestReader&) = delete;
    TNetHTTPRequestReader& operator=(const TNetHTTPRequestReader&) = delete;

    // One line up to LF (a CR before the LF is dropped), handed to AUse where it stands in the
    // input, before it is dropped; AUse is not called when the reader refuses the line.
    template <typename TUse> [[nodiscard]] std::error_code ReadLineWith(TUse&& AUse) {
        std::string_view line;
        size_t consumed = 0;
        if (std::error_code failure = NextLine(line, consumed))
            return failure;
        const bool tooLong = line.size() > FLimits.MaxLineLength;
        if (!tooLong)
            AUse(line);
        FInput.Discard(consumed);
        return tooLong ? TNetHTTPRefusalReason::LineTooLong : std::error_code();
    }
    // Appends header lines to AHeaders up to and including the first line that is blank.
    [[nodiscard]] std::error_code ReadHeaders(TNetHeaderList& AHeaders);
    // Appends the body that AHeaders announce to ABody: Content-Length bytes; without a length,
    // for a POST everything until the peer closes, for other commands nothing.
    [[nodiscard]] std::error_code ReadBody(const TNetHeaderList& AHeaders,
                                           const std::string& ACommand, std::string& ABody);
    // The limit behind a refusal this reader gave, in its unit; 0 for reasons without one.
    long long LimitOf(const std::error_code& AReason) const;

private:
    // Waits for the next whole line; ALine is it without CR LF, AConsumed its bytes with them.
    std::error_code NextLine(std::string_view& ALine, size_t& AConsumed);
    std::error_code ReadLength(long long ALength, std::string& ABody);
    std::error_code ReadUntilClose(std::string& ABody);
    // Waits for more input within the deadline and charges it to the budget.
    std::error_code Fill();
    void MoveInto(std::string& ABody, size_t ACount);
    int RemainingMs() const;

    INetHTTPInput& FInput;
    const TNetHTTPLimits FLimits;
    const TClock::time_point FDeadline;
    TNetHTTPMemoryBudget* FBudget;
    size_t FCharged = 0;  // bytes charged to FBudget
    size_t FSearched = 0; // buffered bytes known to hold no line feed
};
