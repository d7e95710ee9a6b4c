// libFuzzer target: the first bytes of a connection on a port that serves TLS and plain HTTP
// alike. The bytes reach a real connection over loopback, which decides between TLS and plain by
// the first byte and runs the handshake entry under a memory budget; then the same bytes go to a
// TLS session in pieces (the first input byte sets their size). A session that fails says why
// and sends nothing more; a hello announcing more than the bound fails at its header; what a
// connection charged to the budget stays within it and all comes back.
// Single-threaded, as libFuzzer calls it.
#include "support/TestCertificates.h"
#include "tcp/NetExceptions.h"
#include "tcp/TNetStack.h"
#include "tcp/TNetTCPConnection.h"
#include "tls/TNetTLSContext.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

[[noreturn]] void Broken(const char* AWhat) {
    std::fprintf(stderr, "fuzz_tls_entry: %s (%s)\n", AWhat, std::strerror(errno));
    std::abort();
}

// More would fill the loopback socket's buffer, which the target never reads from the far end.
constexpr size_t MaxInput = 64 * 1024;
// Below what a session with a large hello is charged, so that some inputs pass it.
constexpr size_t BudgetLimit = 64 * 1024;

// A plain counter of what the connection charges.
class TBudget : public INetMemoryBudget {
public:
    bool TryTake(size_t ABytes) override {
        if (Held + ABytes > BudgetLimit)
            return false;
        Held += ABytes;
        return true;
    }
    void Give(size_t ABytes) override {
        if (ABytes > Held)
            Broken("more given back than was taken");
        Held -= ABytes;
    }
    size_t Limit() const override { return BudgetLimit; }
    size_t Held = 0;
};

struct TTarget {
    std::shared_ptr<const TNetTLSContext> Context;
    TNetSocketHandle Listening;
};

TTarget& Target() {
    static TTarget* target = [] {
        AddStackUser(); // the socket stack lives as long as the target
        auto* made = new TTarget;
        char dir[] = "/tmp/skav-fuzz-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            Broken("no temporary directory");
        const TTestCertificate pair = TTestCA().Issue({"stats.test"}, 1);
        const std::string cert = std::string(dir) + "/chain.pem";
        const std::string key = std::string(dir) + "/key.pem";
        std::ofstream(cert) << pair.ChainPem;
        std::ofstream(key) << pair.KeyPem;
        std::string error;
        made->Context = TNetTLSContext::Load(cert, key, error);
        std::remove(cert.c_str());
        std::remove(key.c_str());
        rmdir(dir);
        if (!made->Context)
            Broken("the test certificate does not load");
        made->Listening.SetIP("127.0.0.1");
        made->Listening.OpenSocket();
        made->Listening.BindLocal();
        made->Listening.StartListening(16);
        return made;
    }();
    return *target;
}

// On a loaded machine loopback may hand sent bytes over a little later, in the kernel's own
// time. The connection is to read all of them at once, so the harness waits (at most 2 s)
// until the whole input is queued on the accepted socket.
void AwaitArrival(int ADescriptor, size_t ACount) {
    for (int waited = 0; waited < 2000; ++waited) {
        int queued = 0;
        if (ioctl(ADescriptor, FIONREAD, &queued) != 0 || static_cast<size_t>(queued) >= ACount)
            return;
        usleep(1000);
    }
}

// The port of a socket's own end, or of its far end.
int PortOf(int ADescriptor, bool AFarEnd) {
    sockaddr_in address{};
    socklen_t size = sizeof(address);
    sockaddr* into = reinterpret_cast<sockaddr*>(&address);
    const int result = AFarEnd ? getpeername(ADescriptor, into, &size)
                               : getsockname(ADescriptor, into, &size);
    return result == 0 ? ntohs(address.sin_port) : -1;
}

// The accepted end of AClient. A connect that an earlier run gave up on (interrupted by the
// fuzzer's timer signal, say) may still have completed and wait in the queue before it, reset
// by then: such ends are taken and dropped.
std::unique_ptr<TNetTCPConnection> AcceptedEndOf(int AClient) {
    const int clientPort = PortOf(AClient, false);
    for (int tries = 0; tries < 64; ++tries) {
        auto connection = std::make_unique<TNetTCPConnection>();
        if (!connection->Binding().AcceptFrom(Target().Listening.Descriptor()))
            break;
        if (PortOf(connection->Binding().Descriptor(), true) == clientPort)
            return connection;
    }
    Broken("the connection was not waiting to be accepted");
}

// A connection given the bytes: it reads what has come (without waiting for more), then the
// client goes with a reset, so thousands of runs a second leave no ports in TIME_WAIT.
void ThroughAConnection(const std::string& ABytes) {
    TTarget& target = Target();
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(target.Listening.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const linger reset{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    // A machine out of ports or descriptors for a moment is no finding: the input is passed.
    if (client < 0 ||
        connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (client >= 0)
            close(client);
        return;
    }
    if (!ABytes.empty() && send(client, ABytes.data(), ABytes.size(), MSG_NOSIGNAL) !=
                               static_cast<ssize_t>(ABytes.size()))
        Broken("the input was not sent whole");
    auto budget = std::make_shared<TBudget>();
    {
        const std::unique_ptr<TNetTCPConnection> accepted = AcceptedEndOf(client);
        TNetTCPConnection& connection = *accepted;
        connection.SetMemoryBudget(budget);
        AwaitArrival(connection.Binding().Descriptor(), ABytes.size());
        connection.SetSecureAcceptor(target.Context);
        try {
            while (connection.IsConnected() && connection.FillInput(true, 0) > 0) {
            }
        } catch (const ENetException&) {
            // Refused: an expected outcome.
        }
        if (!connection.Secure() && connection.InputSize() != static_cast<int>(ABytes.size()))
            Broken("plain input lost bytes");
        if (budget->Held > BudgetLimit)
            Broken("the budget was passed");
        close(client);
        connection.CloseConnection();
    }
    if (budget->Held != 0)
        Broken("a connection kept part of its charge");
}

// What the first message's header announces, when the first record is a handshake record that
// the library would read on and holds the whole header; 0 otherwise (the harness judges only
// the simple case itself).
size_t AnnouncedHello(const std::string& ABytes) {
    const auto byte = [&](size_t AAt) { return static_cast<size_t>(uint8_t(ABytes[AAt])); };
    const size_t record = ABytes.size() < 9 ? 0 : byte(3) << 8 | byte(4);
    if (record < 4 || record > 16384 || byte(0) != 0x16 || byte(1) != 3)
        return 0;
    return byte(6) << 16 | byte(7) << 8 | byte(8);
}

// The same bytes straight into a session, in pieces of AStep bytes.
void ThroughASession(const std::string& ABytes, size_t AStep) {
    using TState = TNetSecureSession::TState;
    std::unique_ptr<TNetSecureSession> session = Target().Context->NewSession();
    TNetBuffer output;
    char plain[4096];
    TState state = TState::WantInput;
    const auto failed = [&] { return state == TState::Failed || state == TState::TooLarge; };
    for (size_t at = 0; at < ABytes.size() && !failed(); at += AStep) {
        session->PutReceived(ABytes.data() + at, std::min(AStep, ABytes.size() - at));
        state = session->Handshake();
        while (state == TState::Ready && session->Decrypt(plain, sizeof(plain), state) > 0) {
        }
        session->TakeOutput(output);
    }
    if (failed() != !session->FailureText().empty())
        Broken("a failure without a reason, or a reason without a failure");
    if (failed() && session->Encrypt("x", 1))
        Broken("a failed session still encrypts");
    // With the header in the first piece the session judges it before the library sees a byte.
    if (AStep >= 9 && AnnouncedHello(ABytes) > session->HandshakeLimit() &&
        state != TState::TooLarge)
        Broken("a hello announcing more than the bound was taken");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0 || ASize > MaxInput)
        return 0;
    const size_t step = 1 + AData[0] % 128;
    const std::string bytes(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
    ThroughAConnection(bytes);
    if (Target().Context->StartsHandshake(bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0])))
        ThroughASession(bytes, step);
    return 0;
}
