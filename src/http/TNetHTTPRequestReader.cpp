#include "http/TNetHTTPRequestReader.h"

#include "http/NetHTTPText.h"
#include "tcp/NetExceptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using Reason = TNetHTTPRefusalReason;

// A value of one or more decimal digits that fits, blanks and tabs around it aside (they are no
// part of a field value); -1 otherwise.
long long PlainLength(const std::string& AValue) {
    std::string_view text(AValue);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return -1;
    long long value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

} // namespace

std::error_code BodyLengthOf(const TNetHeaderList& AHeaders, long long& ALength) {
    ALength = -1;
    // No chunked bodies here: a body whose end the length does not give is not read at all.
    if (AHeaders.FindName("Transfer-Encoding") >= 0)
        return Reason::BadFraming;
    std::vector<std::string> values;
    AHeaders.ValuesOf("Content-Length", &values);
    for (const std::string& value : values) {
        const long long length = PlainLength(value);
        if (length < 0 || (ALength >= 0 && length != ALength))
            return Reason::BadFraming;
        ALength = length;
    }
    return {};
}

TNetHTTPRequestReader::TNetHTTPRequestReader(INetHTTPInput& AInput, const TNetHTTPLimits& ALimits,
                                             TNetHTTPMemoryBudget* ABudget)
    : FInput(AInput), FLimits(ALimits),
      FDeadline(TClock::now() + std::chrono::milliseconds(ALimits.RequestTimeout)),
      FBudget(ABudget) {}

TNetHTTPRequestReader::~TNetHTTPRequestReader() {
    if (FBudget != nullptr)
        FBudget->Give(FCharged);
}

long long TNetHTTPRequestReader::LimitOf(const std::error_code& AReason) const {
    if (AReason.category() != NetHTTPRefusalCategory())
        return 0;
    switch (static_cast<Reason>(AReason.value())) {
    case Reason::LineTooLong:
        return static_cast<long long>(FLimits.MaxLineLength);
    case Reason::TooManyHeaderLines:
        return FLimits.MaxHeaderLines;
    case Reason::HeaderTooLarge:
        return static_cast<long long>(FLimits.MaxHeaderSize);
    case Reason::BodyTooLarge:
        return static_cast<long long>(FLimits.MaxBodySize);
    case Reason::RequestTimeout:
        return FLimits.RequestTimeout;
    case Reason::MemoryBudget:
        return FBudget != nullptr ? static_cast<long long>(FBudget->Limit()) : 0;
    default:
        return 0;
    }
}

int TNetHTTPRequestReader::RemainingMs() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(FDeadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Never blocks past the deadline, so a client that trickles bytes cannot hold the thread.
std::error_code TNetHTTPRequestReader::Fill() {
    for (;;) {
        const int remaining = RemainingMs();
        if (remaining <= 0)
            return Reason::RequestTimeout;
        const size_t received = FInput.Fill(remaining);
        if (received == 0)
            continue;
        if (FBudget != nullptr) {
            if (!FBudget->TryTake(received))
                return Reason::MemoryBudget;
            FCharged += received;
        }
        return {};
    }
}

// The line stays in the input until the caller discards AConsumed bytes: header lines go from
// there straight into their list.
std::error_code TNetHTTPRequestReader::NextLine(std::string_view& ALine, size_t& AConsumed) {
    // The line may be MaxLineLength bytes plus CR; its LF must lie within the next byte.
    const size_t window = FLimits.MaxLineLength + 2;
    for (;;) {
        const size_t size = FInput.Size();
        const size_t searchEnd = size < window ? size : window;
        const void* lf = FSearched < searchEnd
                             ? std::memchr(FInput.Data() + FSearched, '\n', searchEnd - FSearched)
                             : nullptr;
        if (lf != nullptr) {
            size_t length = static_cast<const char*>(lf) - FInput.Data();
            FSearched = 0;
            AConsumed = length + 1;
            if (length > 0 && FInput.Data()[length - 1] == '\r')
                --length;
            ALine = std::string_view(FInput.Data(), length);
            return {};
        }
        FSearched = searchEnd;
        if (size >= window)
            return Reason::LineTooLong;
        if (std::error_code failure = Fill())
            return failure;
    }
}

std::error_code TNetHTTPRequestReader::ReadHeaders(TNetHeaderList& AHeaders) {
    size_t blockSize = 0;
    for (int lines = 0;; ++lines) {
        std::string_view line;
        size_t consumed = 0;
        if (std::error_code failure = NextLine(line, consumed))
            return failure;
        const bool last = OnlyCtl(line);
        blockSize += line.size() + 2;
        std::error_code failure;
        if (line.size() > FLimits.MaxLineLength)
            failure = Reason::LineTooLong;
        else if (!last && lines >= FLimits.MaxHeaderLines)
            failure = Reason::TooManyHeaderLines;
        else if (blockSize > FLimits.MaxHeaderSize)
            failure = Reason::HeaderTooLarge;
        else
            AHeaders.Add(line);
        FInput.Discard(consumed);
        if (failure || last)
            return failure;
    }
}

std::error_code TNetHTTPRequestReader::ReadBody(const TNetHeaderList& AHeaders,
                                                const std::string& ACommand, std::string& ABody) {
    long long length = -1;
    if (std::error_code framing = BodyLengthOf(AHeaders, length))
        return framing;
    std::error_code result;
    if (length >= 0)
        result = ReadLength(length, ABody);
    else if (ACommand == "POST")
        result = ReadUntilClose(ABody);
    FSearched = 0;
    return result;
}

// Straight from the input into the body: the bytes are held once.
void TNetHTTPRequestReader::MoveInto(std::string& ABody, size_t ACount) {
    ABody.append(FInput.Data(), ACount);
    FInput.Discard(ACount);
}

std::error_code TNetHTTPRequestReader::ReadLength(long long ALength, std::string& ABody) {
    if (static_cast<unsigned long long>(ALength) > FLimits.MaxBodySize)
        return Reason::BodyTooLarge;
    for (size_t left = static_cast<size_t>(ALength); left > 0;) {
        if (FInput.Size() == 0)
            if (std::error_code failure = Fill())
                return failure;
        const size_t take = std::min(FInput.Size(), left);
        MoveInto(ABody, take);
        left -= take;
    }
    return {};
}

std::error_code TNetHTTPRequestReader::ReadUntilClose(std::string& ABody) {
    const size_t start = ABody.size();
    for (;;) {
        if (ABody.size() - start + FInput.Size() > FLimits.MaxBodySize)
            return Reason::BodyTooLarge;
        MoveInto(ABody, FInput.Size());
        try {
            if (std::error_code failure = Fill())
                return failure;
        } catch (const ENetConnClosedGracefully&) {
            break; // the peer's close ends the body
        }
    }
    if (ABody.size() - start + FInput.Size() > FLimits.MaxBodySize)
        return Reason::BodyTooLarge;
    MoveInto(ABody, FInput.Size());
    return {};
}
