#include "tcp/TNetSocketHandle.h"

#include <sys/socket.h>

#include "tcp/NetExceptions.h"
#include "tcp/TNetStack.h"

TNetSocketHandle::TPin::TPin(TNetSocketHandle& AHandle) : FHandle(&AHandle), FDescriptor(-1) {
    std::lock_guard<std::mutex> lock(AHandle.FLock);
    if (AHandle.FAllocated) {
        FDescriptor = AHandle.FDescriptor;
        ++AHandle.FPins;
    }
}

TNetSocketHandle::TPin::TPin(TPin&& AOther) noexcept
    : FHandle(AOther.FHandle), FDescriptor(AOther.FDescriptor) {
    AOther.FDescriptor = -1;
}

TNetSocketHandle::TPin::~TPin() {
    if (FDescriptor >= 0)
        FHandle->Unpin();
}

TNetSocketHandle::TNetSocketHandle() = default;

TNetSocketHandle::TNetSocketHandle(const TNetSocketHandles& ACollection)
    : FPort(ACollection.DefaultPort()) {}

TNetSocketHandle::~TNetSocketHandle() {
    ReleaseSocket(true);
}

void TNetSocketHandle::Unpin() {
    std::vector<int> toClose;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (--FPins == 0)
            toClose.swap(FPendingClose);
    }
    for (int descriptor : toClose)
        SocketStack().CloseDescriptor(descriptor);
}

void TNetSocketHandle::Assign(const TNetSocketHandle& ASource) {
    if (&ASource == this)
        return;
    std::string ip = ASource.IP(), remoteIP = ASource.RemoteIP();
    int port = ASource.Port(), remotePort = ASource.RemotePort();
    std::lock_guard<std::mutex> lock(FLock);
    FIP = ip;
    FPort = port;
    FRemoteIP = remoteIP;
    FRemotePort = remotePort;
}

int TNetSocketHandle::Descriptor() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FDescriptor;
}

bool TNetSocketHandle::Allocated() const {
    return FAllocated;
}

void TNetSocketHandle::ReadLocalOnce() const {
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FLocalUnread || !FAllocated)
            return;
    }
    // No handle is made const: the address is part of what the handle shows, read late.
    try {
        const_cast<TNetSocketHandle*>(this)->RefreshLocal();
    } catch (const ENetException&) {
        // Released meanwhile: the address stays unknown, as for any closed socket.
    }
}

std::string TNetSocketHandle::IP() const {
    ReadLocalOnce();
    std::lock_guard<std::mutex> lock(FLock);
    return FIP;
}

void TNetSocketHandle::SetIP(const std::string& AIP) {
    std::lock_guard<std::mutex> lock(FLock);
    FIP = AIP;
}

int TNetSocketHandle::Port() const {
    ReadLocalOnce();
    std::lock_guard<std::mutex> lock(FLock);
    return FPort;
}

void TNetSocketHandle::SetPort(int APort) {
    std::lock_guard<std::mutex> lock(FLock);
    FPort = APort;
}

std::string TNetSocketHandle::RemoteIP() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FRemoteIP;
}

int TNetSocketHandle::RemotePort() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FRemotePort;
}

int TNetSocketHandle::Family() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FFamily;
}

void TNetSocketHandle::SetDescriptor(int ADescriptor, int AFamily) {
    std::lock_guard<std::mutex> lock(FLock);
    FDescriptor = ADescriptor;
    FFamily = AFamily;
    FAllocated = true;
}

void TNetSocketHandle::OpenSocket(int AType, int AProtocol) {
    ReleaseSocket(true);
    const std::string ip = IP();
    if (ip.empty() || ip == "::") {
        const int socket = OpenDualStackSocket(AType, AProtocol);
        if (socket != -1) {
            SetDescriptor(socket, NetFamilyInet6);
            return;
        }
        if (!ip.empty()) // "::" asks for IPv6 by name
            SocketStack().RaiseStackError(NetErrFamilyNotSupported);
    }
    const int family = ip.find(':') != std::string::npos ? NetFamilyInet6 : NetFamilyInet;
    SetDescriptor(SocketStack().OpenStreamSocket(AType, AProtocol, family), family);
}

int TNetSocketHandle::OpenDualStackSocket(int AType, int AProtocol) {
    TNetStack& stack = SocketStack();
    const int socket = stack.NewSocket(NetFamilyInet6, AType, AProtocol);
    if (socket == -1) {
        const int code = stack.LastSocketError();
        if (code == NetErrFamilyNotSupported || code == NetErrProtocolNotSupported)
            return -1;
        throw ENetInvalidSocket();
    }
    if (stack.SetDualStack(socket) == -1) {
        // An IPv6 socket that cannot take IPv4 clients would lose them: IPv4 alone instead.
        stack.CloseDescriptor(socket);
        return -1;
    }
    return socket;
}

void TNetSocketHandle::ReleaseSocket(bool AClearLocal) {
    int descriptor = -1;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FAllocated)
            return;
        FAllocated = false;
        // A pin means another thread may be blocked in a wait, receive or send on the socket
        // (or in an accept on a listening one): shut down in both directions, it returns at
        // once, where close() alone would leave it blocked. Without one nothing waits on it,
        // and a plain close (the peer thread's own, after its answer) ends it the same way.
        if (FPins > 0) {
            SocketStack().ShutdownSocket(FDescriptor, SHUT_RDWR);
            FPendingClose.push_back(FDescriptor);
        } else {
            descriptor = FDescriptor;
        }
        ClearAddressesLocked(AClearLocal);
    }
    if (descriptor >= 0)
        SocketStack().CloseDescriptor(descriptor);
}

void TNetSocketHandle::ClearAddresses(bool AClearLocal) {
    std::lock_guard<std::mutex> lock(FLock);
    ClearAddressesLocked(AClearLocal);
}

void TNetSocketHandle::ClearAddressesLocked(bool AClearLocal) {
    FDescriptor = -1;
    FAllocated = false;
    FLocalUnread = false;
    if (AClearLocal) {
        FIP.clear();
        FPort = 0;
    }
    FRemoteIP.clear();
    FRemotePort = 0;
}

void TNetSocketHandle::SetOption(int ALevel, int AOption, const void* AValue, int ALength) {
    TPin pin(*this);
    SocketStack().CheckSocketResult(
        SocketStack().SetSocketOption(pin.Descriptor(), ALevel, AOption, AValue, ALength));
}

void TNetSocketHandle::BindLocal() {
    {
        TPin pin(*this);
        int result = SocketStack().BindTo(pin.Descriptor(), Family(), IP(), Port());
        if (SocketStack().CheckSocketResult(result, {NetErrAddressInUse}))
            throw ENetCouldNotBindSocket();
    }
    RefreshLocal();
}

void TNetSocketHandle::StartListening(int ABacklog) {
    TPin pin(*this);
    SocketStack().CheckSocketResult(SocketStack().ListenOn(pin.Descriptor(), ABacklog));
}

void TNetSocketHandle::DeferAccept(int AMilliseconds) {
    TPin pin(*this);
    SocketStack().DeferAccept(pin.Descriptor(), AMilliseconds);
}

bool TNetSocketHandle::AcceptFrom(int AListening) {
    std::string remoteIP;
    int remotePort = 0;
    int socket = SocketStack().AcceptOn(AListening, remoteIP, remotePort);
    // An empty queue is the normal end of a run of accepts, not worth an exception.
    if (socket < 0 && SocketStack().LastSocketError() == NetErrWouldBlock)
        return false;
    SocketStack().CheckSocketResult(socket);
    SetDescriptor(socket, Family());
    // The address accept() reported: a peer that resets at once makes getpeername() fail.
    std::lock_guard<std::mutex> lock(FLock);
    FLocalUnread = true;
    FRemoteIP = remoteIP;
    FRemotePort = remotePort;
    return true;
}

void TNetSocketHandle::RefreshLocal() {
    TPin pin(*this);
    int family = 0, port = 0;
    std::string ip;
    SocketStack().LocalName(pin.Descriptor(), family, ip, port);
    std::lock_guard<std::mutex> lock(FLock);
    FIP = ip;
    FPort = port;
    FLocalUnread = false;
}

void TNetSocketHandle::RefreshRemote() {
    TPin pin(*this);
    int family = 0, port = 0;
    std::string ip;
    SocketStack().RemoteName(pin.Descriptor(), family, ip, port);
    std::lock_guard<std::mutex> lock(FLock);
    FRemoteIP = ip;
    FRemotePort = port;
}

bool TNetSocketHandle::WaitReadable(int ATimeout) {
    return WaitFor(false, ATimeout);
}

bool TNetSocketHandle::WaitWritable(int ATimeout) {
    return WaitFor(true, ATimeout);
}

bool TNetSocketHandle::WaitFor(bool AWrite, int ATimeout) {
    TPin pin(*this);
    if (pin.Descriptor() < 0)
        throw ENetConnClosedGracefully();
    std::vector<int> list{pin.Descriptor()};
    std::vector<int>* read = AWrite ? nullptr : &list;
    std::vector<int>* write = AWrite ? &list : nullptr;
    return SocketStack().WaitForSockets(read, write, nullptr, ATimeout) == 1;
}

int TNetSocketHandle::ReceiveBytes(void* ABuffer, int ALength, int AFlags) {
    TPin pin(*this);
    if (pin.Descriptor() < 0)
        return 0;
    return SocketStack().ReceiveOn(pin.Descriptor(), ABuffer, ALength, AFlags);
}

int TNetSocketHandle::SendBytes(const void* ABuffer, int ALength, int AFlags) {
    TPin pin(*this);
    if (pin.Descriptor() < 0)
        return 0;
    return SocketStack().SendOn(pin.Descriptor(), ABuffer, ALength, AFlags);
}

TNetSocketHandle& TNetSocketHandles::AddBinding() {
    FItems.push_back(std::make_unique<TNetSocketHandle>(*this));
    return *FItems.back();
}

void TNetSocketHandles::Assign(const TNetSocketHandles& ASource) {
    if (&ASource == this)
        return;
    FDefaultPort = ASource.FDefaultPort;
    FItems.clear();
    for (const auto& item : ASource.FItems)
        AddBinding().Assign(*item);
}
