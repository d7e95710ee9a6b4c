// TNetSocketHandle: one socket with its local and peer address; TNetSocketHandles: a server's
// bindings. A handle belongs to one thread, except ReleaseSocket, which any thread may call to wake
// and close it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tcp/TNetStack.h"

class TNetSocketHandles;

class TNetSocketHandle {
public:
    TNetSocketHandle();
    // Made inside a collection: Port starts at the collection's DefaultPort.
    explicit TNetSocketHandle(const TNetSocketHandles& ACollection);
    ~TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle&) = delete;
    TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

    // Copies IP, Port, RemoteIP and RemotePort (not the socket).
    void Assign(const TNetSocketHandle& ASource);

    int Descriptor() const;
    bool Allocated() const;
    std::string IP() const;
    void SetIP(const std::string& AIP);
    int Port() const;
    void SetPort(int APort);
    std::string RemoteIP() const;
    int RemotePort() const;

    // The address family of the socket that OpenSocket made (NetFamilyInet until then); what
    // BindLocal binds.
    int Family() const;
    // Releases any socket first (clearing the local address), then opens a new one of the
    // family of IP: an IPv6 text makes an IPv6 socket; an empty IP or "::" one dual-stack IPv6
    // socket for every IPv4 and IPv6 address, or, where the system has no IPv6 and IP is
    // empty, an IPv4 socket for every IPv4 address; any other IP an IPv4 socket.
    void OpenSocket(int AType = 1, int AProtocol = 0);
    // Closes the socket, shut down first when another thread may be blocked on it (which then
    // returns); keeps IP and Port unless AClearLocal. Nothing happens without a socket. Any
    // thread.
    void ReleaseSocket(bool AClearLocal);
    void ClearAddresses(bool AClearLocal);
    void SetOption(int ALevel, int AOption, const void* AValue, int ALength);
    // Binds to IP:Port; an address in use raises ENetCouldNotBindSocket. Reads the address back.
    void BindLocal();
    void StartListening(int ABacklog);
    // Connections reach accept only with their first data, or after AMilliseconds (see
    // TNetStack::DeferAccept). Best effort: a system without the option accepts as before.
    void DeferAccept(int AMilliseconds);
    // Accepts from the listening descriptor into this handle with the client's address; the
    // local one is read when first asked for (IP, Port), since few callers want it. False when
    // no connection is waiting (a non-blocking listening socket); other failures throw.
    [[nodiscard]] bool AcceptFrom(int AListening);
    void RefreshLocal();
    void RefreshRemote();
    // True when data, end of stream or an error is pending within ATimeout (ms, or WaitForever).
    // Raises ENetConnClosedGracefully without a socket.
    bool WaitReadable(int ATimeout);
    // True when a send can take bytes (or an error is pending) within ATimeout ms. Raises
    // ENetConnClosedGracefully without a socket.
    bool WaitWritable(int ATimeout);
    // One receive or send on the socket; 0 when the socket has been released meanwhile.
    int ReceiveBytes(void* ABuffer, int ALength, int AFlags);
    int SendBytes(const void* ABuffer, int ALength, int AFlags);

    // Keeps the descriptor number from being closed (and reused) while the pin lives; a release
    // meanwhile shuts the socket down at once and closes it when the last pin goes.
    class TPin {
    public:
        explicit TPin(TNetSocketHandle& AHandle);
        ~TPin();
        TPin(const TPin&) = delete;
        TPin& operator=(const TPin&) = delete;
        TPin(TPin&& AOther) noexcept;
        TPin& operator=(TPin&&) = delete;
        // The pinned descriptor, -1 when the handle had no socket.
        int Descriptor() const { return FDescriptor; }

    private:
        TNetSocketHandle* FHandle;
        int FDescriptor;
    };

private:
    bool WaitFor(bool AWrite, int ATimeout);
    void Unpin();
    void SetDescriptor(int ADescriptor, int AFamily);
    // A dual-stack IPv6 socket, or -1 when the system has no IPv6 (any other failure raises).
    static int OpenDualStackSocket(int AType, int AProtocol);
    void ClearAddressesLocked(bool AClearLocal);
    // Reads the local address of an accepted socket at the first IP or Port.
    void ReadLocalOnce() const;

    mutable std::mutex FLock; // guards every field below; FAllocated is only written under it
    int FDescriptor = -1;
    // Read without the lock: a connection asks it before every receive and send.
    std::atomic<bool> FAllocated = false;
    int FFamily = NetFamilyInet;
    std::string FIP;
    std::string FRemoteIP;
    int FPort = 0;
    int FRemotePort = 0;
    bool FLocalUnread = false;      // accepted; IP and Port not read from the socket yet
    int FPins = 0;                  // live TPin objects on FDescriptor
    std::vector<int> FPendingClose; // released while pinned: closed by the last pin
};

class TNetSocketHandles {
public:
    TNetSocketHandles() = default;
    TNetSocketHandles(const TNetSocketHandles&) = delete;
    TNetSocketHandles& operator=(const TNetSocketHandles&) = delete;

    int DefaultPort() const { return FDefaultPort; }
    void SetDefaultPort(int APort) { FDefaultPort = APort; }
    // A new item with Port = DefaultPort and an empty IP.
    TNetSocketHandle& AddBinding();
    int Count() const { return static_cast<int>(FItems.size()); }
    TNetSocketHandle& Items(int AIndex) { return *FItems.at(AIndex); }
    const TNetSocketHandle& Items(int AIndex) const { return *FItems.at(AIndex); }
    void Clear() { FItems.clear(); }
    // Replaces the items by copies of ASource's (addresses only) and takes its DefaultPort.
    void Assign(const TNetSocketHandles& ASource);

private:
    int FDefaultPort = 0;
    std::vector<std::unique_ptr<TNetSocketHandle>> FItems;
};
