// TNetTCPConnection: one TCP connection with buffered input and an optional write batch.
// Used by one thread (its peer thread); only CloseSocketOnly may also come from another thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>

#include "tcp/INetMemoryBudget.h"
#include "tcp/TNetBuffer.h"
#include "tcp/TNetComponent.h"
#include "tcp/TNetRefusal.h"
#include "tcp/TNetSecureSession.h"
#include "tcp/TNetSocketHandle.h"
#include "tcp/TNetStack.h"

class TNetTCPConnection : public TNetComponent {
public:
    TNetTCPConnection();
    ~TNetTCPConnection() override;

    // Properties.
    bool ASCIIFilter() const { return FASCIIFilter; }
    void SetASCIIFilter(bool AValue) { FASCIIFilter = AValue; }
    TNetSocketHandle& Binding() { return *FBinding; }
    const TNetSocketHandle& Binding() const { return *FBinding; }
    bool ClosedByPeer() const { return FClosedByPeer; }
    bool LineTimedOut() const { return FLineTimedOut; }
    // The most bytes one receive takes.
    int RecvBufferSize() const { return FRecvBufferSize; }
    void SetRecvBufferSize(int ASize) { FRecvBufferSize = ASize > 0 ? ASize : 1; }
    int SendBufferSize() const { return FSendBufferSize; }
    void SetSendBufferSize(int ASize) { FSendBufferSize = ASize > 0 ? ASize : 1; }
    // The longest wait for data of a read that asks for no limit (WaitForever); a read that waits
    // longer closes the connection and fails as if the peer had closed. WaitForever by default.
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int AMilliseconds) { FReadTimeout = AMilliseconds; }
    // The longest all sends of the connection may take together, counted from its first send
    // (ms; 0 or less, WaitForever among them: no limit). A send past it closes the connection
    // and raises the socket error 10060. WaitForever by default.
    int SendTimeout() const { return FSendTimeout; }
    void SetSendTimeout(int AMilliseconds) { FSendTimeout = AMilliseconds; }
    // The connection's intercept hook is not built: setting it true always raises.
    bool InterceptEnabled() const { return false; }
    void SetInterceptEnabled(bool AValue);
    TNetBuffer& PendingInput() { return FPendingInput; }
    // Offers AAcceptor's secure channel: when the first byte the peer sends starts its
    // handshake, the connection runs the handshake within the read that received it (under that
    // read's timeout) and from then on reads and writes through the channel; otherwise it stays
    // plain. No byte is lost either way. Set before the first read; none keeps it plain.
    void SetSecureAcceptor(std::shared_ptr<const TNetSecureAcceptor> AAcceptor);
    // Whether the peer started the secure handshake.
    bool Secure() const { return FSecure != nullptr; }
    // What a secure channel holds (MemoryHeld of its session) is charged to ABudget while the
    // connection lasts; a channel that would pass the budget is closed unanswered and refused
    // (SecureMemoryBudget). Set before the first read; none charges nothing.
    void SetMemoryBudget(std::shared_ptr<INetMemoryBudget> ABudget) {
        FMemoryBudget = std::move(ABudget);
    }

    // The secure protocol agreed on ("TLSv1.3") once its handshake is done; empty otherwise.
    std::string_view SecureProtocol() const {
        return FSecure && FSecureReady ? FSecure->Protocol() : std::string_view();
    }

    // Fires after the socket has been closed, on the closing thread.
    std::function<void(TNetTCPConnection& ASender)> OnDisconnected;

    virtual void CheckClosed(bool ARaiseIfClosed, bool AIgnoreInput);
    virtual bool IsConnected();
    // Closes the socket; a secure connection first hands the end of its channel to the system
    // (without waiting for it to go out). The connection's own thread.
    virtual void CloseConnection();
    // Closes the socket; wakes a read or wait blocked on it in another thread. Any thread.
    virtual void CloseSocketOnly();
    virtual std::string ExtractInput(int ACount);
    // One wait and one receive; the number of bytes received (0: none within the timeout).
    // Without a target the bytes are received straight behind the pending input.
    virtual int FillInput(bool ARaiseIfClosed = true, int ATimeout = WaitForever,
                          TNetBuffer* ATarget = nullptr, bool AAppend = true);
    // A line without its terminator (empty terminator: LF, and one trailing CR is dropped).
    // Empty text with LineTimedOut when nothing came within ATimeout.
    virtual std::string ReadLine(const std::string& ATerminator = "", int ATimeout = WaitForever);
    virtual void DiscardInput(int ACount);
    virtual void SendText(const std::string& AText);
    virtual void SendLine(const std::string& AText);
    // Sends the stream from its position (or from the start) to its end.
    virtual void SendStream(std::istream& AStream, bool AFromStart = true,
                            bool AWithLength = false);

    int InputSize() const { return static_cast<int>(FPendingInput.Size()); }
    // Exactly ACount bytes, or with AUntilClose everything until the peer closes.
    void ReadIntoStream(std::ostream& AStream, int ACount = -1, bool AUntilClose = false);
    void SendRaw(const void* ABytes, int ACount, bool ANow = false);
    // Collects sends until EndBatch (or until AThreshold bytes when above 0).
    void StartBatch(int AThreshold = -1);
    void FlushBatch(int ACount = -1);
    void EndBatch();
    void DropBatch();
    bool InBatch() const { return FWriteBatch != nullptr; }

protected:
    // Called just before the connection closes itself at ReadTimeout or SendTimeout (ALimit in
    // ms). Nothing here; a server's connection reports the refusal to its server.
    virtual void LimitReached(const std::error_code& AReason, long long ALimit);

private:
    int EffectiveTimeout(int ATimeout) const;
    int ReceiveSome(char* AInto, int ASize, int ATimeout, bool AHadInput);
    int ReceivePlain(char* AInto, int ASize, int ATimeout, bool AHadInput);
    int ReceiveSecure(char* AInto, int ASize, int ATimeout, bool AHadInput);
    // Handshake and decryption; waits for more bytes from the peer up to ADeadline.
    int ReadSecure(char* AInto, int ASize, int ATimeout,
                   std::chrono::steady_clock::time_point ADeadline, bool AHadInput);
    void SecureHandshakeFailed();
    // Closes the connection unanswered at a limit of the secure channel, reported as AReason.
    void SecureRefused(const std::error_code& AReason, long long ALimit);
    // Charges the session's memory as it is now; when the budget cannot take it, the connection
    // is refused and closed, and the result is false.
    bool SecureWithinBudget();
    void SendSecureOutput();
    void SayGoodbye();
    void Filter(char* ABytes, int ACount) const;
    void SendDirect(const char* ABytes, int ACount);
    void SendAll(const char* ABytes, int ACount);
    int SendSome(const char* ABytes, int ACount);
    [[noreturn]] void SendTimedOut();

    bool FASCIIFilter = false;
    std::unique_ptr<TNetSocketHandle> FBinding;
    TNetBuffer FPendingInput;
    std::atomic<bool> FClosedByPeer{false};
    std::atomic<bool> FCloseStarted{false}; // the first CloseSocketOnly does the work
    bool FLineTimedOut = false;
    size_t FLineSearched = 0; // bytes of FPendingInput known to hold no terminator
    int FRecvBufferSize = 32768;
    int FSendBufferSize = 32768;
    int FReadTimeout = WaitForever;
    int FSendTimeout = WaitForever;
    bool FSendClockRuns = false; // FSendDeadline is set: the first send has started
    std::chrono::steady_clock::time_point FSendDeadline{};
    std::unique_ptr<TNetBuffer> FWriteBatch;
    int FWriteBatchThreshold = -1;
    std::shared_ptr<const TNetSecureAcceptor> FSecureAcceptor; // until the first byte decides
    std::unique_ptr<TNetSecureSession> FSecure;                // the peer started the handshake
    bool FSecureReady = false;                                 // its handshake is done
    TNetBuffer FSecureOutput;                                  // encrypted bytes being sent
    std::shared_ptr<INetMemoryBudget> FMemoryBudget;
    size_t FSecureCharged = 0; // of FMemoryBudget, for FSecure
};
