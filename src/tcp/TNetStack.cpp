#include "tcp/TNetStack.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>

#include "tcp/NetExceptions.h"

namespace {

const std::map<int, const char*>& ErrorTexts() {
    static const std::map<int, const char*> texts = {
        {10004, "Interrupted system call."},
        {10009, "Bad file number."},
        {10013, "Access denied."},
        {10014, "Bad address."},
        {10022, "Invalid argument."},
        {10024, "Too many open files."},
        {10035, "Operation would block. "},
        {10036, "Operation now in progress."},
        {10037, "Operation already in progress."},
        {10038, "Socket operation on non-socket."},
        {10039, "Destination address required."},
        {10040, "Message too long."},
        {10041, "Protocol wrong type for socket."},
        {10042, "Bad protocol option."},
        {10043, "Protocol not supported."},
        {10044, "Socket type not supported."},
        {10045, "Operation not supported on socket."},
        {10046, "Protocol family not supported."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10050, "Network is down."},
        {10051, "Network is unreachable."},
        {10052, "Net dropped connection or reset."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10056, "Socket is already connected."},
        {10057, "Socket is not connected."},
        {10058, "Cannot send or receive after socket is closed."},
        {10059, "Too many references, cannot splice."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10062, "Too many levels of symbolic links."},
        {10063, "File name too long."},
        {10064, "Host is down."},
        {10065, "No route to host."},
        {10066, "Directory not empty"},
    };
    return texts;
}

// Decimal integer conversion of one address part, as strict as the platform's: a part that is
// not a whole number (empty, signs aside) raises.
int AddressPart(const std::string& APart) {
    int value = 0;
    const char* first = APart.data();
    const char* last = first + APart.size();
    if (first != last && *first == '+')
        ++first;
    auto [end, error] = std::from_chars(first, last, value);
    if (APart.empty() || error != std::errc() || end != last)
        throw ENetException("'" + APart + "' is not a valid integer value");
    return value;
}

// Plain pointers, no static destructors: a detached peer thread may still be freeing its
// connection (and so be the stack's last user) while the process runs its exit handlers.
std::mutex GStackLock;       // guards GStack and the creating/destroying changes of StackUsers
TNetStack* GStack = nullptr; // owned
std::atomic<TNetStack*> GStackPointer{nullptr};

} // namespace

std::atomic<int> StackUsers{0};

std::string TNetStack::ErrorText(int ACode) {
    auto found = ErrorTexts().find(ACode);
    std::string text = found == ErrorTexts().end() ? "" : found->second;
    return "Socket Error # " + std::to_string(ACode) + "\r\n" + text;
}

std::string TNetStack::AddressToText(const TNetAddress& AAddress) {
    return std::to_string(AAddress[0]) + "." + std::to_string(AAddress[1]) + "." +
           std::to_string(AAddress[2]) + "." + std::to_string(AAddress[3]);
}

TNetAddress TNetStack::TextToAddress(const std::string& AText) {
    TNetAddress address{};
    std::string rest = AText;
    for (int i = 0; i < 4; ++i) {
        std::string part = rest;
        size_t dot = rest.find('.');
        if (i < 3 && dot != std::string::npos) {
            part = rest.substr(0, dot);
            rest.erase(0, dot + 1);
        } else if (i < 3) {
            rest.clear();
        }
        address[i] = static_cast<uint8_t>(AddressPart(part) & 0xFF);
    }
    return address;
}

bool TNetStack::CheckSocketResult(int AResult, const std::vector<int>& AIgnored) {
    if (AResult != -1)
        return false;
    int code = LastSocketError();
    if (std::find(AIgnored.begin(), AIgnored.end(), code) != AIgnored.end())
        return true;
    RaiseStackError(code);
}

void TNetStack::RaiseStackError(int ACode) {
    throw ENetSocketError(ACode, ErrorText(ACode));
}

int TNetStack::OpenStreamSocket(int AType, int AProtocol, int AFamily) {
    int socket = NewSocket(AFamily, AType, AProtocol);
    if (socket == -1)
        throw ENetInvalidSocket();
    return socket;
}

TNetStack& SocketStack() {
    return *GStackPointer.load(std::memory_order_acquire);
}

// Every connection and thread object counts itself; while the stack already has users a count
// needs no lock. Only the first user and the last one make and end the stack, under the lock.
void AddStackUser() {
    for (int users = StackUsers.load(); users > 0;)
        if (StackUsers.compare_exchange_weak(users, users + 1))
            return;
    std::lock_guard<std::mutex> lock(GStackLock);
    // Counted only once the stack is there: a user that skips the lock must find it.
    if (StackUsers.load() == 0) {
        GStack = NewPlatformStack().release();
        GStackPointer.store(GStack, std::memory_order_release);
    }
    StackUsers.fetch_add(1);
}

void RemoveStackUser() {
    for (int users = StackUsers.load(); users > 1;)
        if (StackUsers.compare_exchange_weak(users, users - 1))
            return;
    std::lock_guard<std::mutex> lock(GStackLock);
    if (StackUsers.fetch_sub(1) == 1) {
        GStackPointer.store(nullptr, std::memory_order_release);
        delete GStack;
        GStack = nullptr;
    }
}

std::unique_ptr<TNetStack> ExchangeSocketStack(std::unique_ptr<TNetStack> AStack) {
    std::lock_guard<std::mutex> lock(GStackLock);
    std::unique_ptr<TNetStack> previous(GStack);
    GStack = AStack.release();
    GStackPointer.store(GStack, std::memory_order_release);
    return previous;
}
