#include "support/FailingStack.h"

#include <cerrno>
#include <memory>
#include <vector>

int TFailingStack::Calls(TCall AKind) const {
    return FKinds[static_cast<size_t>(AKind)].Calls;
}

void TFailingStack::FailCalls(TCall AKind, int AFirst, int AErrno, int ACount) {
    TKind& kind = FKinds[static_cast<size_t>(AKind)];
    std::lock_guard<std::mutex> lock(FLock);
    kind.FailFrom = kind.Calls + AFirst;
    kind.FailTo = kind.FailFrom + ACount - 1;
    kind.Errno = AErrno;
}

bool TFailingStack::Fails(TCall AKind) {
    TKind& kind = FKinds[static_cast<size_t>(AKind)];
    std::lock_guard<std::mutex> lock(FLock);
    const int number = ++kind.Calls;
    if (number < kind.FailFrom || number > kind.FailTo)
        return false;
    errno = kind.Errno;
    return true;
}

int TFailingStack::AcceptOn(int ASocket, std::string& AIP, int& APort) {
    return Fails(TCall::Accept) ? Failed(-1) : TNetStackPosix::AcceptOn(ASocket, AIP, APort);
}

int TFailingStack::ReceiveOn(int ASocket, void* ABuffer, int ALength, int AFlags) {
    return Fails(TCall::Receive) ? Failed(-1)
                                 : TNetStackPosix::ReceiveOn(ASocket, ABuffer, ALength, AFlags);
}

int TFailingStack::SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) {
    return Fails(TCall::Send) ? Failed(-1)
                              : TNetStackPosix::SendOn(ASocket, ABuffer, ALength, AFlags);
}

int TFailingStack::NewSocket(int AFamily, int AType, int AProtocol) {
    if (FWithoutIPv6 && AFamily == NetFamilyInet6) {
        errno = EAFNOSUPPORT;
        return Failed(-1);
    }
    return TNetStackPosix::NewSocket(AFamily, AType, AProtocol);
}

namespace {
std::mutex GRetiredLock; // guards GRetired
// Never destroyed: a detached peer thread may use a retired stack while the process exits.
auto* GRetired = new std::vector<std::unique_ptr<TNetStack>>;

void Retire(std::unique_ptr<TNetStack> AStack) {
    std::lock_guard<std::mutex> lock(GRetiredLock);
    GRetired->push_back(std::move(AStack));
}
} // namespace

TInjectedStack::TInjectedStack() {
    auto stack = std::make_unique<TFailingStack>();
    FStack = stack.get();
    Retire(ExchangeSocketStack(std::move(stack)));
}

TInjectedStack::~TInjectedStack() {
    Retire(ExchangeSocketStack(std::make_unique<TNetStackPosix>()));
}
