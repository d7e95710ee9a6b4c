#include "tcp/TNetTCPConnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <cstring>

#include "tcp/NetExceptions.h"

namespace {

// Below this much free room in the pending input a receive grows it by a whole RecvBufferSize.
constexpr size_t MinReceiveRoom = 4096;
// The most bytes the first receive into empty pending input takes (see FillInput).
constexpr size_t FirstReceiveSize = 8192;
// Room a write batch starts with: a header block fits without growing it.
constexpr size_t BatchStartSize = 1024;
// Encrypted bytes taken from the socket at once: one whole record of the largest size.
constexpr int SecureReceiveSize = 16 * 1024 + 512;

// Runs AStop when the scope ends, also when an exception passes.
template <typename F> class TFinally {
public:
    explicit TFinally(F AStop) : FStop(std::move(AStop)) {}
    ~TFinally() { FStop(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FStop;
};

// What is left of a wait until ADeadline, 0 once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point ADeadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        ADeadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

} // namespace

TNetTCPConnection::TNetTCPConnection() : FBinding(std::make_unique<TNetSocketHandle>()) {}

TNetTCPConnection::~TNetTCPConnection() {
    FSecure.reset(); // what was charged for it is free now
    if (FSecureCharged > 0)
        FMemoryBudget->Give(FSecureCharged);
}

void TNetTCPConnection::LimitReached(const std::error_code& /*AReason*/, long long /*ALimit*/) {}

void TNetTCPConnection::SetInterceptEnabled(bool AValue) {
    if (AValue)
        throw ENetInterceptPropIsNil();
}

void TNetTCPConnection::CheckClosed(bool ARaiseIfClosed, bool AIgnoreInput) {
    bool allocated = FBinding->Allocated();
    if (!FClosedByPeer && allocated)
        return;
    if (allocated)
        CloseSocketOnly();
    if (ARaiseIfClosed && (FPendingInput.Empty() || AIgnoreInput))
        throw ENetConnClosedGracefully();
}

bool TNetTCPConnection::IsConnected() {
    CheckClosed(false, false);
    return FBinding->Allocated();
}

void TNetTCPConnection::SetSecureAcceptor(std::shared_ptr<const TNetSecureAcceptor> AAcceptor) {
    FSecureAcceptor = std::move(AAcceptor);
}

void TNetTCPConnection::CloseConnection() {
    SayGoodbye();
    CloseSocketOnly();
}

// The end of the secure channel lets the client tell a whole answer from a cut one. It is sent
// only when the system takes it at once: a close must never wait for a client.
void TNetTCPConnection::SayGoodbye() {
    if (!FSecureReady || FClosedByPeer || !FBinding->Allocated())
        return;
    FSecure->Close();
    FSecureOutput.Clear();
    FSecure->TakeOutput(FSecureOutput);
    if (!FSecureOutput.Empty())
        (void)FBinding->SendBytes(FSecureOutput.Memory(), static_cast<int>(FSecureOutput.Size()),
                                  NetSendDontWait);
    FSecureOutput.Clear();
}

void TNetTCPConnection::CloseSocketOnly() {
    // The server's thread and the peer thread may both close; the first one does the work.
    if (!FBinding->Allocated() || FCloseStarted.exchange(true))
        return;
    RaiseStatus(TNetStatus::StatusDisconnecting, FBinding->RemoteIP());
    FBinding->ReleaseSocket(true);
    FClosedByPeer = true;
    RaiseStatus(TNetStatus::StatusDisconnected);
    if (OnDisconnected)
        OnDisconnected(*this);
}

std::string TNetTCPConnection::ExtractInput(int ACount) {
    if (ACount < 0 || static_cast<size_t>(ACount) > FPendingInput.Size())
        throw ENetNotEnoughDataInBuffer();
    std::string text = FPendingInput.Text(static_cast<size_t>(ACount));
    DiscardInput(ACount);
    return text;
}

void TNetTCPConnection::DiscardInput(int ACount) {
    FPendingInput.RemoveFront(static_cast<size_t>(std::max(ACount, 0)));
    FLineSearched = 0;
    WorkStep(TWorkMode::WorkRead, ACount);
}

int TNetTCPConnection::EffectiveTimeout(int ATimeout) const {
    return ATimeout == WaitForever ? FReadTimeout : ATimeout;
}

int TNetTCPConnection::FillInput(bool ARaiseIfClosed, int ATimeout, TNetBuffer* ATarget,
                                 bool AAppend) {
    CheckClosed(ARaiseIfClosed, false);
    if (!IsConnected())
        return 0;
    const bool hadInput = !FPendingInput.Empty();
    int received = 0;
    if (ATarget == nullptr && AAppend && !hadInput) {
        // The first bytes of a request (usually all of it) go through a buffer on the stack into
        // pending input of their own size: a whole receive size from the heap for every
        // connection cost more than the request itself.
        char first[FirstReceiveSize];
        const int size = std::min(FRecvBufferSize, static_cast<int>(sizeof first));
        received = ReceiveSome(first, size, ATimeout, hadInput);
        Filter(first, received);
        FPendingInput.Append(first, static_cast<size_t>(std::max(received, 0)));
    } else if (ATarget == nullptr && AAppend) {
        // Straight behind the pending bytes: no receive buffer per connection, no second copy.
        // Into the room the buffer already has, when there is a fair amount of it: no new
        // allocation and no copy of what is pending.
        const size_t before = FPendingInput.Size();
        const size_t room = FPendingInput.Capacity() - before;
        const size_t size = room >= MinReceiveRoom
                                ? std::min(room, static_cast<size_t>(FRecvBufferSize))
                                : static_cast<size_t>(FRecvBufferSize);
        TFinally cut([&] { FPendingInput.SetSize(before + static_cast<size_t>(received)); });
        char* into = FPendingInput.Extend(size);
        received = ReceiveSome(into, static_cast<int>(size), ATimeout, hadInput);
        Filter(into, received); // counted as work when taken from the pending input
    } else {
        TNetBuffer scratch;
        TNetBuffer& target = ATarget != nullptr ? *ATarget : scratch;
        if (ATarget == nullptr)
            scratch.SetSize(static_cast<size_t>(FRecvBufferSize));
        received =
            ReceiveSome(target.Memory(), static_cast<int>(target.Size()), ATimeout, hadInput);
        Filter(target.Memory(), received);
        if (AAppend)
            FPendingInput.Append(target.Memory(), static_cast<size_t>(received));
        else if (received > 0)
            WorkStep(TWorkMode::WorkRead, received);
    }
    CheckClosed(ARaiseIfClosed, false);
    return received;
}

int TNetTCPConnection::ReceiveSome(char* AInto, int ASize, int ATimeout, bool AHadInput) {
    if (!FSecure && !FSecureAcceptor)
        return ReceivePlain(AInto, ASize, ATimeout, AHadInput);
    return ReceiveSecure(AInto, ASize, ATimeout, AHadInput);
}

int TNetTCPConnection::ReceivePlain(char* AInto, int ASize, int ATimeout, bool AHadInput) {
    // Data that has already arrived (a request usually has) is taken without a wait first:
    // that saves a poll() per read on a busy server.
    int received = FBinding->ReceiveBytes(AInto, ASize, NetRecvDontWait);
    bool ready = received != -1 || SocketStack().LastSocketError() != NetErrWouldBlock;
    if (!ready && FBinding->WaitReadable(EffectiveTimeout(ATimeout))) {
        received = FBinding->ReceiveBytes(AInto, ASize, 0);
        ready = true;
    }
    if (!ready) {
        if (ATimeout == WaitForever && FReadTimeout != WaitForever) {
            // The read bound passed: the connection ends as if closed.
            LimitReached(TNetRefusalReason::ReadTimeout, FReadTimeout);
            CloseSocketOnly();
        }
        return 0; // nothing arrived within the wait
    }
    FClosedByPeer = FClosedByPeer || received == 0;
    if (received == -1 && SocketStack().CheckSocketResult(received, {NetErrShutdown})) {
        CloseSocketOnly();
        if (!AHadInput)
            SocketStack().RaiseStackError(NetErrShutdown);
        return 0;
    }
    return received;
}

// The whole call, handshake included, waits no longer than one plain receive would: a client
// that sends half a handshake and stops is dropped when the read's time is up.
int TNetTCPConnection::ReceiveSecure(char* AInto, int ASize, int ATimeout, bool AHadInput) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ATimeout, 0));
    if (!FSecure) {
        // The first bytes decide; they go to the session or stay plain input.
        const int received = ReceivePlain(AInto, ASize, ATimeout, AHadInput);
        if (received <= 0)
            return received;
        const std::shared_ptr<const TNetSecureAcceptor> acceptor = std::move(FSecureAcceptor);
        if (!acceptor->StartsHandshake(static_cast<unsigned char>(AInto[0])))
            return received;
        FSecure = acceptor->NewSession();
        FSecure->PutReceived(AInto, static_cast<size_t>(received));
    }
    return ReadSecure(AInto, ASize, ATimeout, deadline, AHadInput);
}

int TNetTCPConnection::ReadSecure(char* AInto, int ASize, int ATimeout,
                                  std::chrono::steady_clock::time_point ADeadline, bool AHadInput) {
    using TState = TNetSecureSession::TState;
    char encrypted[SecureReceiveSize];
    for (;;) {
        // The budget takes what came before the library works on it.
        if (!SecureWithinBudget())
            return 0;
        TState state = TState::WantInput;
        if (!FSecureReady && (state = FSecure->Handshake()) == TState::Ready) {
            FSecureReady = true;
            FSendClockRuns = false; // the answer gets the whole SendTimeout of its own
        }
        const int decrypted = FSecureReady ? FSecure->Decrypt(AInto, ASize, state) : 0;
        if (state == TState::TooLarge) {
            // Closed without a word: none of the handshake is kept to answer it with.
            SecureRefused(TNetRefusalReason::SecureHandshakeTooLarge,
                          static_cast<long long>(FSecure->HandshakeLimit()));
            return 0;
        }
        if (state == TState::Failed && !FSecureReady) {
            SecureHandshakeFailed();
            return 0;
        }
        // What the handshake no longer needs goes back at once.
        if (!SecureWithinBudget())
            return 0;
        SendSecureOutput(); // the handshake's answers
        if (decrypted > 0)
            return decrypted;
        if (state == TState::Failed || state == TState::Closed) {
            CloseSocketOnly(); // a broken or ended channel carries nothing more
            return 0;
        }
        const int wait = ATimeout >= 0 ? MillisecondsUntil(ADeadline) : ATimeout;
        const int received = ReceivePlain(encrypted, SecureReceiveSize, wait, AHadInput);
        if (received == 0)
            return 0; // nothing in time, or the peer closed
        FSecure->PutReceived(encrypted, static_cast<size_t>(received));
    }
}

// Closed without an answer; the refusal carries no limit.
void TNetTCPConnection::SecureHandshakeFailed() {
    try {
        SendSecureOutput(); // the alert that tells the client why
    } catch (const ENetException&) {
        // A courtesy only: the client is refused either way.
    }
    LimitReached(TNetRefusalReason::SecureHandshakeFailed, -1);
    CloseSocketOnly();
}

void TNetTCPConnection::SecureRefused(const std::error_code& AReason, long long ALimit) {
    LimitReached(AReason, ALimit);
    CloseSocketOnly();
}

bool TNetTCPConnection::SecureWithinBudget() {
    if (!FMemoryBudget)
        return true;
    const size_t held = FSecure->MemoryHeld();
    if (held < FSecureCharged) {
        FMemoryBudget->Give(FSecureCharged - held);
    } else if (held > FSecureCharged && !FMemoryBudget->TryTake(held - FSecureCharged)) {
        // Unanswered, like a request past the budget.
        SecureRefused(TNetRefusalReason::SecureMemoryBudget,
                      static_cast<long long>(FMemoryBudget->Limit()));
        return false;
    }
    FSecureCharged = held;
    return true;
}

void TNetTCPConnection::SendSecureOutput() {
    FSecure->TakeOutput(FSecureOutput);
    if (FSecureOutput.Empty())
        return;
    TFinally clear([this] { FSecureOutput.Clear(); });
    SendAll(FSecureOutput.Memory(), static_cast<int>(FSecureOutput.Size()));
}

void TNetTCPConnection::Filter(char* ABytes, int ACount) const {
    if (FASCIIFilter)
        for (int i = 0; i < ACount; ++i)
            ABytes[i] = static_cast<char>(ABytes[i] & 0x7F);
}

std::string TNetTCPConnection::ReadLine(const std::string& ATerminator, int ATimeout) {
    const std::string terminator = ATerminator.empty() ? std::string("\n") : ATerminator;
    FLineTimedOut = false;
    FLineSearched = 0; // the last call may have looked for another terminator
    size_t found = std::string::npos;
    for (;;) {
        if (!FPendingInput.Empty()) {
            // Bytes already searched cannot hold the start of a terminator, except its last
            // few, which a new segment may complete.
            size_t from = FLineSearched > terminator.size() ? FLineSearched - terminator.size() : 0;
            const char* begin = FPendingInput.Memory();
            const char* end = begin + FPendingInput.Size();
            const char* hit = std::search(begin + from, end, terminator.begin(), terminator.end());
            FLineSearched = FPendingInput.Size();
            if (hit != end) {
                found = static_cast<size_t>(hit - begin);
                break;
            }
        }
        CheckClosed(true, true);
        int received = FillInput(true, ATimeout, nullptr, true);
        FLineTimedOut = received == 0;
        if (received == 0)
            return std::string();
    }
    std::string line = ExtractInput(static_cast<int>(found + terminator.size()));
    line.resize(found);
    if (ATerminator.empty() && !line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void TNetTCPConnection::ReadIntoStream(std::ostream& AStream, int ACount, bool AUntilClose) {
    int remaining = AUntilClose ? INT_MAX : ACount;
    WorkStart(TWorkMode::WorkRead, AUntilClose ? 0 : ACount);
    TFinally stop([this] { WorkStop(TWorkMode::WorkRead); });
    if (remaining <= 0)
        return;
    size_t buffered = std::min(FPendingInput.Size(), static_cast<size_t>(remaining));
    AStream.write(FPendingInput.Memory(), static_cast<std::streamsize>(buffered));
    FPendingInput.RemoveFront(buffered);
    FLineSearched = 0;
    remaining -= static_cast<int>(buffered);
    TNetBuffer scratch;
    while (remaining > 0 && IsConnected()) {
        scratch.SetSize(static_cast<size_t>(std::min(remaining, RecvBufferSize())));
        int received = FillInput(!AUntilClose, WaitForever, &scratch, false);
        AStream.write(scratch.Memory(), received);
        remaining -= received;
    }
}

void TNetTCPConnection::SendRaw(const void* ABytes, int ACount, bool ANow) {
    if (ACount <= 0 || ABytes == nullptr)
        return;
    CheckClosed(true, true);
    if (FWriteBatch && !ANow) {
        FWriteBatch->Append(ABytes, static_cast<size_t>(ACount));
        if (FWriteBatchThreshold > 0 &&
            FWriteBatch->Size() >= static_cast<size_t>(FWriteBatchThreshold))
            FlushBatch(FWriteBatchThreshold);
        return;
    }
    SendDirect(static_cast<const char*>(ABytes), ACount);
}

void TNetTCPConnection::SendDirect(const char* ABytes, int ACount) {
    if (!FSecure) {
        SendAll(ABytes, ACount);
        return;
    }
    if (!FSecureReady || !FSecure->Encrypt(ABytes, static_cast<size_t>(ACount))) {
        CloseSocketOnly();
        SocketStack().RaiseStackError(NetErrConnReset);
    }
    SendSecureOutput();
}

void TNetTCPConnection::SendAll(const char* ABytes, int ACount) {
    if (FSendTimeout > 0 && !FSendClockRuns) {
        FSendClockRuns = true;
        FSendDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FSendTimeout);
    }
    int offset = 0;
    while (offset < ACount) {
        int sent = SendSome(ABytes + offset, ACount - offset);
        FClosedByPeer = FClosedByPeer || sent == 0;
        CheckClosed(true, false);
        if (sent == -1 && SocketStack().CheckSocketResult(sent, {NetErrShutdown})) {
            CloseSocketOnly();
            SocketStack().RaiseStackError(NetErrShutdown);
        }
        WorkStep(TWorkMode::WorkWrite, sent);
        offset += sent;
    }
}

// One send; with a send deadline it takes only what fits and waits for room no longer than the
// deadline allows, so a client that never reads cannot hold the thread.
int TNetTCPConnection::SendSome(const char* ABytes, int ACount) {
    if (FSendTimeout <= 0)
        return FBinding->SendBytes(ABytes, ACount, 0);
    for (;;) {
        int sent = FBinding->SendBytes(ABytes, ACount, NetSendDontWait);
        if (sent != -1 || SocketStack().LastSocketError() != NetErrWouldBlock)
            return sent;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            FSendDeadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            SendTimedOut();
        FBinding->WaitWritable(static_cast<int>(left.count()));
    }
}

void TNetTCPConnection::SendTimedOut() {
    LimitReached(TNetRefusalReason::SendTimeout, FSendTimeout);
    CloseSocketOnly();
    SocketStack().RaiseStackError(NetErrTimedOut);
}

void TNetTCPConnection::SendText(const std::string& AText) {
    if (!AText.empty())
        SendRaw(AText.data(), static_cast<int>(AText.size()), false);
}

void TNetTCPConnection::SendLine(const std::string& AText) {
    if (!InBatch()) {
        SendText(AText + "\r\n"); // one send for the line and its end
        return;
    }
    SendText(AText);
    SendRaw("\r\n", 2, false);
}

void TNetTCPConnection::SendStream(std::istream& AStream, bool AFromStart, bool AWithLength) {
    if (AFromStart)
        AStream.seekg(0, std::ios::beg);
    std::streamoff position = AStream.tellg();
    AStream.seekg(0, std::ios::end);
    std::streamoff size = AStream.tellg();
    AStream.seekg(position, std::ios::beg);
    int length = static_cast<int>(std::max<std::streamoff>(size - position, 0));
    if (AWithLength) {
        uint32_t prefix = htonl(static_cast<uint32_t>(length));
        SendRaw(&prefix, sizeof(prefix), false);
    }
    WorkStart(TWorkMode::WorkWrite, length);
    TFinally stop([this] { WorkStop(TWorkMode::WorkWrite); });
    // No bigger than the stream: a tracking pixel needs 43 bytes, not the whole send size.
    std::vector<char> chunk(static_cast<size_t>(std::max(std::min(length, FSendBufferSize), 1)));
    for (int left = length; left > 0;) {
        int wanted = std::min(left, FSendBufferSize);
        AStream.read(chunk.data(), wanted);
        int got = static_cast<int>(AStream.gcount());
        if (got <= 0)
            throw ENetNoDataToRead();
        SendRaw(chunk.data(), got, false);
        left -= got;
    }
}

void TNetTCPConnection::StartBatch(int AThreshold) {
    FWriteBatch = std::make_unique<TNetBuffer>();
    FWriteBatch->Reserve(BatchStartSize);
    FWriteBatchThreshold = AThreshold;
}

void TNetTCPConnection::FlushBatch(int ACount) {
    if (!FWriteBatch || FWriteBatch->Empty())
        return;
    if (ACount == -1 || FWriteBatch->Size() < static_cast<size_t>(ACount)) {
        SendRaw(FWriteBatch->Memory(), static_cast<int>(FWriteBatch->Size()), true);
        DropBatch();
    } else {
        SendRaw(FWriteBatch->Memory(), ACount, true);
        FWriteBatch->RemoveFront(static_cast<size_t>(ACount));
    }
}

void TNetTCPConnection::EndBatch() {
    // The batch ends also when the flush fails: later sends must not pile up unsent.
    TFinally close([this] { FWriteBatch.reset(); });
    FlushBatch(-1);
}

void TNetTCPConnection::DropBatch() {
    if (FWriteBatch)
        FWriteBatch->Clear();
}
