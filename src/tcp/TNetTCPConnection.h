// TNetTCPConnection: one TCP connection with buffered input and an optional write batch.
// Used by one thread (its peer thread); only CloseSocketOnly may also come from another thread.
#pragma once

#include <atomic>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include "tcp/TNetBuffer.h"
#include "tcp/TNetComponent.h"
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
    int RecvBufferSize() const { return static_cast<int>(FReceiveBuffer.Size()); }
    void SetRecvBufferSize(int ASize);
    int SendBufferSize() const { return FSendBufferSize; }
    void SetSendBufferSize(int ASize) { FSendBufferSize = ASize > 0 ? ASize : 1; }
    // The longest wait for data of a read that asks for no limit (WaitForever); a read that waits
    // longer closes the connection and fails as if the peer had closed. WaitForever by default.
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int AMilliseconds) { FReadTimeout = AMilliseconds; }
    // The connection's intercept hook is not built: setting it true always raises.
    bool InterceptEnabled() const { return false; }
    void SetInterceptEnabled(bool AValue);
    TNetBuffer& PendingInput() { return FPendingInput; }

    // Fires after the socket has been closed, on the closing thread.
    std::function<void(TNetTCPConnection& ASender)> OnDisconnected;

    virtual void CheckClosed(bool ARaiseIfClosed, bool AIgnoreInput);
    virtual bool IsConnected();
    virtual void CloseConnection();
    // Closes the socket; wakes a read or wait blocked on it in another thread. Any thread.
    virtual void CloseSocketOnly();
    virtual std::string ExtractInput(int ACount);
    // One wait and one receive; the number of bytes received (0: none within the timeout).
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

private:
    int EffectiveTimeout(int ATimeout) const;
    void ReceivedBytes(TNetBuffer& ATarget, int ACount, bool AAppend);
    void SendDirect(const char* ABytes, int ACount);

    bool FASCIIFilter = false;
    std::unique_ptr<TNetSocketHandle> FBinding;
    TNetBuffer FPendingInput;
    std::atomic<bool> FClosedByPeer{false};
    std::atomic<bool> FCloseStarted{false}; // the first CloseSocketOnly does the work
    bool FLineTimedOut = false;
    size_t FLineSearched = 0; // bytes of FPendingInput known to hold no terminator
    TNetBuffer FReceiveBuffer;
    int FSendBufferSize = 32768;
    int FReadTimeout = WaitForever;
    std::unique_ptr<TNetBuffer> FWriteBatch;
    int FWriteBatchThreshold = -1;
};
