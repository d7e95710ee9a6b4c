// TNetStackPosix: the socket stack over POSIX sockets; errno becomes the Windows-sockets numbers.
// Any thread; the last error is kept per thread.
#pragma once

#include "tcp/TNetStack.h"

// The Windows-sockets number of a POSIX errno value (EADDRINUSE gives 10048, EPIPE 10058, ...).
int SocketErrorOfErrno(int AErrno);

class TNetStackPosix : public TNetStack {
public:
    int AcceptOn(int ASocket, std::string& AIP, int& APort) override;
    int BindTo(int ASocket, int AFamily, const std::string& AIP, int APort) override;
    int CloseDescriptor(int ASocket) override;
    uint16_t ToNetShort(uint16_t AValue) override;
    int ListenOn(int ASocket, int ABacklog) override;
    uint16_t ToHostShort(uint16_t AValue) override;
    int ReceiveOn(int ASocket, void* ABuffer, int ALength, int AFlags) override;
    int WaitForSockets(std::vector<int>* ARead, std::vector<int>* AWrite, std::vector<int>* AError,
                       int ATimeout) override;
    int SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) override;
    int SetSocketOption(int ASocket, int ALevel, int AOption, const void* AValue,
                        int ALength) override;
    int DeferAccept(int ASocket, int AMilliseconds) override;
    int SetDualStack(int ASocket) override;
    int NewSocket(int AFamily, int AType, int AProtocol) override;
    int ShutdownSocket(int ASocket, int AHow) override;
    int LastSocketError() override;
    void RemoteName(int ASocket, int& AFamily, std::string& AIP, int& APort) override;
    void LocalName(int ASocket, int& AFamily, std::string& AIP, int& APort) override;

protected:
    // Records the calling thread's errno as its last socket error; gives AResult back.
    static int Failed(int AResult);
};
