#include "tcp/TNetStack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "NetTestHelpers.h"
#include "tcp/NetExceptions.h"
#include "tcp/TNetStackPosix.h"

TEST(TNetStackTest, ErrnoBecomesTheWindowsSocketsNumbers) {
    TNetComponent user;
    struct TCase {
        int Errno, Code;
    } cases[] = {
        {EINTR, 10004},       {EBADF, 10009},        {EACCES, 10013},       {EINVAL, 10022},
        {EMFILE, 10024},      {ENFILE, 10024},       {EAGAIN, 10035},       {EINPROGRESS, 10036},
        {ENOTSOCK, 10038},    {EOPNOTSUPP, 10045},   {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
        {ENETUNREACH, 10051}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {ENOBUFS, 10055},
        {ENOMEM, 10055},      {ENOTCONN, 10057},     {EPIPE, 10058},        {ESHUTDOWN, 10058},
        {ETIMEDOUT, 10060},   {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SocketErrorOfErrno(c.Errno), c.Code) << "errno " << c.Errno;
    // A number outside the table never poses as one of its codes.
    EXPECT_EQ(SocketStack().ErrorText(SocketErrorOfErrno(ENOMSG)).find("Bad protocol"),
              std::string::npos);
}

TEST(TNetStackTest, ErrorTextsKeepTheirExactForm) {
    TNetComponent user;
    EXPECT_EQ(SocketStack().ErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(SocketStack().ErrorText(11001), "Socket Error # 11001\r\n");
    try {
        SocketStack().RaiseStackError(10054);
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST(TNetStackTest, AddressTextKeepsTheLowByteOfEachPartAndNeedsFourNumbers) {
    TNetComponent user;
    EXPECT_EQ(SocketStack().TextToAddress("1.2.3.300"), (TNetAddress{1, 2, 3, 44}));
    EXPECT_EQ(SocketStack().AddressToText({127, 0, 0, 1}), "127.0.0.1");
    for (const char* bad : {"1.2.3", "1.2.3.x", "", "localhost", "1.2.3.4.5"})
        EXPECT_THROW(SocketStack().TextToAddress(bad), ENetException) << bad;
}

TEST(TNetStackTest, WaitListsHoldAtMost64SocketsAndHighDescriptorsWork) {
    TNetComponent user;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    // Past 1023, where select() would write outside its set.
    int high = fcntl(pair[0], F_DUPFD_CLOEXEC, 1500);
    ASSERT_GE(high, 1500);
    std::vector<int> list(64, high);
    EXPECT_EQ(SocketStack().WaitForSockets(&list, nullptr, nullptr, 0), 0);
    std::vector<int> tooMany(65, high);
    EXPECT_THROW(SocketStack().WaitForSockets(&tooMany, nullptr, nullptr, 0),
                 ENetStackSetSizeExceeded);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    std::vector<int> read{pair[1], high};
    std::vector<int> write{high};
    EXPECT_EQ(SocketStack().WaitForSockets(&read, &write, nullptr, WaitForever), 2);
    EXPECT_EQ(read, std::vector<int>{high});
    EXPECT_EQ(write, std::vector<int>{high});
    close(high);
    close(pair[0]);
    close(pair[1]);
}

TEST(TNetStackTest, WaitReadableReturnsForDataAndForAReleaseFromAnotherThread) {
    TConnectedPair pair;
    TNetSocketHandle& handle = pair.Connection.Binding();
    EXPECT_FALSE(handle.WaitReadable(0));
    ASSERT_TRUE(pair.Client.Send("x"));
    EXPECT_TRUE(handle.WaitReadable(WaitForever));
    char byte = 0;
    EXPECT_EQ(handle.ReceiveBytes(&byte, 1, 0), 1);
    std::thread releaser([&] {
        std::this_thread::sleep_for(30ms);
        handle.ReleaseSocket(true);
    });
    EXPECT_TRUE(handle.WaitReadable(WaitForever)); // woken, then finds the socket gone
    releaser.join();
    EXPECT_EQ(handle.ReceiveBytes(&byte, 1, 0), 0);
    EXPECT_EQ(handle.RemoteIP(), "");
    EXPECT_THROW(handle.WaitReadable(0), ENetConnClosedGracefully);
}
