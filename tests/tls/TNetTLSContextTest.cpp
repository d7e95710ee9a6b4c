// Loading a certificate and key: what a pair that cannot serve is told with, and what a
// certificate says of itself.
#include "tls/TNetTLSContext.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TLSTestClient.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace {

class TNetTLSContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPair = FCA.Issue({"stats.test", "www.stats.test", "127.0.0.1"}, 0x4D2, 90);
        FDir.WriteFile("chain.pem", FPair.ChainPem);
        FDir.WriteFile("key.pem", FPair.KeyPem);
        FDir.WriteFile("both.pem", FPair.ChainPem + FPair.KeyPem);
        FDir.WriteFile("other-key.pem", NewKeyPem());
        FDir.WriteFile("locked-key.pem", EncryptedKeyPem("secret"));
        FDir.WriteFile("garbage.pem", "not a certificate\n");
        std::filesystem::create_directory(FDir.Path() + "dir.pem");
    }

    std::string Path(const std::string& AName) const { return FDir.Path() + AName; }

    TTestCA FCA;
    TTestCertificate FPair;
    TempDir FDir;
};

TEST_F(TNetTLSContextTest, APairThatCannotServeNamesTheFileAndTheReason) {
    const struct {
        const char* Cert;
        const char* Key;
        std::string Expected; // the beginning of the error, after the directory
    } cases[] = {
        {"missing.pem", "key.pem", "certificate \"@missing.pem\": No such file or directory"},
        {"dir.pem", "key.pem", "certificate \"@dir.pem\": Is a directory"},
        {"garbage.pem", "key.pem", "certificate \"@garbage.pem\": no start line"},
        {"chain.pem", "missing.pem", "key \"@missing.pem\": No such file or directory"},
        {"chain.pem", "garbage.pem", "key \"@garbage.pem\": "},
        {"chain.pem", "other-key.pem",
         "key \"@other-key.pem\": does not match the certificate \"@chain.pem\" ("},
        // An encrypted key is refused at once: a service has nobody to type the passphrase.
        {"chain.pem", "locked-key.pem", "key \"@locked-key.pem\": "},
        // Without a key file the key is looked for in the certificate file.
        {"chain.pem", "", "certificate \"@chain.pem\" holds no key, and no key file is named"},
    };
    for (const auto& c : cases) {
        std::string error;
        std::string expected = c.Expected;
        for (size_t at; (at = expected.find('@')) != std::string::npos;)
            expected.replace(at, 1, FDir.Path());
        const std::string key = *c.Key ? Path(c.Key) : std::string();
        EXPECT_EQ(TNetTLSContext::Load(Path(c.Cert), key, error), nullptr) << c.Cert << c.Key;
        // Where OpenSSL gives the reason, there is one.
        if (expected.back() == ' ' || expected.back() == '(') {
            EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
            EXPECT_GT(error.size(), expected.size() + 2) << error;
        } else {
            EXPECT_EQ(error, expected);
        }
    }
}

// Root reads every file: as root the load runs in a child process that has become nobody.
TEST_F(TNetTLSContextTest, AKeyFileTheServiceMayNotReadIsRefused) {
    ::chmod(FDir.Path().c_str(), 0755);
    ::chmod(Path("chain.pem").c_str(), 0644);
    ::chmod(Path("key.pem").c_str(), 0);
    const std::string expected = "key \"" + Path("key.pem") + "\": Permission denied";
    auto refused = [&] {
        std::string error;
        return TNetTLSContext::Load(Path("chain.pem"), Path("key.pem"), error) == nullptr &&
               error == expected;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(refused());
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && refused() ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TNetTLSContextTest, ALoadedPairTellsItsNamesEndAndSerial) {
    for (const auto& [cert, key] : {std::pair{"chain.pem", "key.pem"}, {"both.pem", ""}}) {
        std::string error;
        auto context = TNetTLSContext::Load(Path(cert), *key ? Path(key) : "", error);
        ASSERT_NE(context, nullptr) << error;
        EXPECT_TRUE(error.empty());
        const TNetTLSCertificateInfo& info = context->Certificate();
        EXPECT_EQ(info.Names,
                  (std::vector<std::string>{"stats.test", "www.stats.test", "127.0.0.1"}));
        EXPECT_EQ(info.Serial, "04D2");
        const auto left = info.NotAfter - std::chrono::system_clock::now();
        EXPECT_GT(left, std::chrono::hours(24 * 89));
        EXPECT_LT(left, std::chrono::hours(24 * 91));
        EXPECT_TRUE(context->StartsHandshake(0x16));
        EXPECT_FALSE(context->StartsHandshake('G'));
    }
}

// What a client may send, or announce, before its handshake is done is bounded, and the
// announcement is judged before the library reserves room for it; junk fails at once.
TEST_F(TNetTLSContextTest, ASessionFailsOnJunkAndOnAnOversizedOrEndlessHandshake) {
    using TState = TNetSecureSession::TState;
    std::string error;
    auto context = TNetTLSContext::Load(Path("chain.pem"), Path("key.pem"), error);
    ASSERT_NE(context, nullptr) << error;
    const size_t bound = TNetTLSContext::MaxHandshakeInput;
    const struct {
        std::string Bytes;
        TState State;
        const char* Failure;
    } cases[] = {
        {HandshakeRecords(100000, 0), TState::TooLarge, "handshake too large"},
        {HandshakeRecords(131000, 0, 1), TState::TooLarge, "handshake too large"}, // 1-byte records
        {HandshakeRecords(bound + 1, 2000), TState::TooLarge, "handshake too large"},
        {HandshakeRecords(bound, 2000), TState::WantInput, ""}, // at the bound: waits for more
        {HandshakeRecords(bound - 4, 40000), TState::TooLarge, "handshake too long"},
        {"\x16GET / HTTP/1.1\r\n\r\n", TState::Failed, "wrong version number"},
        {std::string("\x16\x03\x01\x00\x08\x01\x00\x00\x04junk", 13), TState::Failed,
         "length mismatch"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<TNetSecureSession> session = context->NewSession();
        TState state = TState::WantInput;
        // In pieces, as a network hands them over.
        for (size_t at = 0; at < c.Bytes.size() && state == TState::WantInput; at += 1000) {
            session->PutReceived(c.Bytes.data() + at, std::min<size_t>(1000, c.Bytes.size() - at));
            state = session->Handshake();
        }
        EXPECT_EQ(state, c.State) << c.Failure;
        EXPECT_EQ(session->FailureText(), c.Failure);
        EXPECT_FALSE(session->Encrypt("x", 1)); // nothing goes out of a failed session
        if (c.State == TState::WantInput) {     // what the library reserves is counted
            EXPECT_GE(session->MemoryHeld(), bound + 2000);
        }
    }
}

// The window shows a certificate whose key does not match, with the reason.
TEST_F(TNetTLSContextTest, InspectReadsTheCertificateOfAPairThatCannotServe) {
    TNetTLSPairInfo pair = TNetTLSContext::Inspect(Path("chain.pem"), Path("other-key.pem"));
    EXPECT_TRUE(pair.CertificateRead);
    EXPECT_EQ(pair.Certificate.Serial, "04D2");
    EXPECT_NE(pair.Problem.find("does not match"), std::string::npos) << pair.Problem;
    pair = TNetTLSContext::Inspect(Path("chain.pem"), Path("key.pem"));
    EXPECT_TRUE(pair.CertificateRead);
    EXPECT_TRUE(pair.Problem.empty());
    pair = TNetTLSContext::Inspect(Path("garbage.pem"), Path("key.pem"));
    EXPECT_FALSE(pair.CertificateRead);
    EXPECT_FALSE(pair.Problem.empty());
}

} // namespace
