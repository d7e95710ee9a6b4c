// Refusals: a client or request that a server closed at one of its limits, as a value with a
// reason. Plain values; any thread.
#pragma once

#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

// Why the transport closed a client. A protocol layer adds reasons of its own category; the
// server reports and counts every reason the same way.
enum class TNetRefusalReason {
    PerAddressLimit = 1,     // more connections from one address than MaxConnectionsPerIP
    HeadTimeoutUnderLoad,    // no request within HeadTimeoutUnderLoad while the server was busy
    ReadTimeout,             // no data within ReadTimeout on a read without a limit of its own
    SendTimeout,             // the client did not take the answer within SendTimeout
    ForwardedClientLimit,    // more connections for one client behind a forwarding peer than
                             // MaxConnectionsPerIP (TNetTCPServer::CountAsClient)
    SecureHandshakeFailed,   // the client broke off or failed the secure handshake
    SecureHandshakeTooLarge, // the client sent or announced a larger handshake than allowed
    SecureMemoryBudget       // the secure channel's memory would pass the server's budget
};

// A category of refusal reasons with a fixed short text for each value, 1 first; each layer
// that refuses makes one of its own.
class TNetRefusalCategory : public std::error_category {
public:
    TNetRefusalCategory(const char* AName, std::initializer_list<const char*> ATexts)
        : FName(AName), FTexts(ATexts) {}
    const char* name() const noexcept override { return FName; }
    std::string message(int AValue) const override;

private:
    const char* FName;
    std::vector<const char*> FTexts;
};

// The category of the transport's reasons ("tcp").
const std::error_category& NetRefusalCategory();
std::error_code make_error_code(TNetRefusalReason AReason);

template <> struct std::is_error_code_enum<TNetRefusalReason> : std::true_type {};

// One refusal as the server reports it.
struct TNetRefusal {
    std::error_code Reason; // which limit refused the client
    std::string PeerIP;     // the client's address
    long long Limit = 0;    // the limit concerned in its own unit (connections, ms, bytes, lines)

    // The reason's short fixed text ("too many connections from one address").
    std::string Text() const { return Reason.message(); }
};
