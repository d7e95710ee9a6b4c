// TNetStack: the one place that calls the operating system's sockets, and the process-wide stack.
// Stack operations keep no state between calls and may be called from any thread without a lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Timeouts are milliseconds; WaitForever means no limit.
constexpr int WaitForever = -2;
// The most sockets one WaitForSockets list may hold.
constexpr int MaxWaitSockets = 64;
// The address families, by their Windows-sockets numbers: IPv4, IPv6.
constexpr int NetFamilyInet = 2;
constexpr int NetFamilyInet6 = 23;

// Windows-sockets error numbers that decide behaviour in the transport.
constexpr int NetErrAccess = 10013;
constexpr int NetErrTooManyFiles = 10024;
constexpr int NetErrWouldBlock = 10035;
constexpr int NetErrProtocolNotSupported = 10043;
constexpr int NetErrFamilyNotSupported = 10047;
// Receive flag of ours: return at once (-1 with NetErrWouldBlock) when nothing has arrived.
constexpr int NetRecvDontWait = 0x10000;
// Send flag of ours: take what fits now (-1 with NetErrWouldBlock when nothing fits).
constexpr int NetSendDontWait = 0x10000;
constexpr int NetErrAddressInUse = 10048;
constexpr int NetErrConnAborted = 10053;
constexpr int NetErrConnReset = 10054;
constexpr int NetErrNoBufferSpace = 10055;
constexpr int NetErrShutdown = 10058;
constexpr int NetErrTimedOut = 10060;

using TNetAddress = std::array<uint8_t, 4>;

class TNetStack {
public:
    TNetStack() = default;
    virtual ~TNetStack() = default;
    TNetStack(const TNetStack&) = delete;
    TNetStack& operator=(const TNetStack&) = delete;

    // Accepts on a listening socket; the new socket (or -1) and the peer's address (as
    // RemoteName gives it).
    virtual int AcceptOn(int ASocket, std::string& AIP, int& APort) = 0;
    // Binds to AIP (empty: any address of AFamily) and APort; the raw result (0, or -1 with the
    // error set). An IPv6 text that is no address raises.
    virtual int BindTo(int ASocket, int AFamily, const std::string& AIP, int APort) = 0;
    virtual int CloseDescriptor(int ASocket) = 0;
    virtual uint16_t ToNetShort(uint16_t AValue) = 0;
    virtual int ListenOn(int ASocket, int ABacklog) = 0;
    virtual uint16_t ToHostShort(uint16_t AValue) = 0;
    // One receive: the count, 0 when the peer closed, -1 on error.
    virtual int ReceiveOn(int ASocket, void* ABuffer, int ALength, int AFlags) = 0;
    // Waits until a socket of a list is ready; each given list keeps only its ready sockets.
    // The ready count, 0 on timeout, -1 on error. More than MaxWaitSockets in a list raises.
    virtual int WaitForSockets(std::vector<int>* ARead, std::vector<int>* AWrite,
                               std::vector<int>* AError, int ATimeout) = 0;
    // One send: the count sent or -1 on error. Never raises a signal.
    virtual int SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) = 0;
    virtual int SetSocketOption(int ASocket, int ALevel, int AOption, const void* AValue,
                                int ALength) = 0;
    // Asks the system to hand a listening socket's connections over only once their first data
    // has come, or AMilliseconds have passed; the raw result. Nothing where the system has no
    // such option.
    virtual int DeferAccept(int ASocket, int AMilliseconds) = 0;
    // Lets an IPv6 socket that is bound to the any-address take IPv4 clients too, which then
    // appear with their dotted addresses; the raw result. Before the bind.
    virtual int SetDualStack(int ASocket) = 0;
    virtual int NewSocket(int AFamily, int AType, int AProtocol) = 0;
    virtual int ShutdownSocket(int ASocket, int AHow) = 0;
    // "Socket Error # <code>\r\n<text>".
    virtual std::string ErrorText(int ACode);
    // The calling thread's last socket error, as a Windows-sockets number.
    virtual int LastSocketError() = 0;
    // The peer's or the local address of a socket: dotted text for IPv4 (also for an IPv4
    // client of a dual-stack socket), the short IPv6 form otherwise. A failure raises.
    virtual void RemoteName(int ASocket, int& AFamily, std::string& AIP, int& APort) = 0;
    virtual void LocalName(int ASocket, int& AFamily, std::string& AIP, int& APort) = 0;
    virtual std::string AddressToText(const TNetAddress& AAddress);
    // Dotted text to four bytes (low 8 bits of each part); a part that is no number raises.
    virtual TNetAddress TextToAddress(const std::string& AText);

    // False when AResult is not -1; true when the error is in AIgnored; otherwise raises.
    bool CheckSocketResult(int AResult, const std::vector<int>& AIgnored = {});
    [[noreturn]] void RaiseStackError(int ACode);
    // A new stream socket of AFamily; raises ENetInvalidSocket when none is made.
    int OpenStreamSocket(int AType, int AProtocol, int AFamily = NetFamilyInet);
};

// A new stack of the platform's sockets. The platform layer defines it (TNetStackPosix here), so
// another platform swaps that layer alone.
std::unique_ptr<TNetStack> NewPlatformStack();

// The process-wide stack; exists while StackUsers is above 0 (every TNetComponent counts).
TNetStack& SocketStack();
extern std::atomic<int> StackUsers;
// Counting of the stack's users; the first creates the stack, the last destroys it.
void AddStackUser();
void RemoveStackUser();
// Replaces the live stack (tests inject failures); only while no socket call is in progress.
// Gives back the stack it replaced.
std::unique_ptr<TNetStack> ExchangeSocketStack(std::unique_ptr<TNetStack> AStack);
