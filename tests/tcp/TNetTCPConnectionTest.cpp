#include "tcp/TNetTCPConnection.h"

#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>
#include <sstream>
#include <thread>

#include "NetTestHelpers.h"
#include "tcp/NetExceptions.h"

TEST(TNetTCPConnectionTest, ReadLineCutsTerminatorsAsTheyCome) {
    struct TCase {
        std::string Sent, Terminator, Expected, Left;
    } cases[] = {
        {"GET / HTTP/1.0\r\n", "", "GET / HTTP/1.0", ""},
        {"bare\nrest", "", "bare", "rest"},
        {"abc\r\r\n", "", "abc\r", ""},
        {"abc\r\nx", "\r\n", "abc", "x"},
        {"abc\r\r\n", "\r\n", "abc\r", ""},
        {"a;b;", ";", "a", "b;"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sent);
        TConnectedPair pair;
        ASSERT_TRUE(pair.Client.Send(c.Sent));
        EXPECT_EQ(pair.Connection.ReadLine(c.Terminator, 5000), c.Expected);
        EXPECT_FALSE(pair.Connection.LineTimedOut());
        EXPECT_EQ(pair.Connection.InputSize(), static_cast<int>(c.Left.size()));
    }
}

TEST(TNetTCPConnectionTest, LinesSplitAtEveryByteOrSharingASegmentComeOutWhole) {
    TConnectedPair pair;
    pair.Connection.SetASCIIFilter(true); // clears the top bit of every byte received
    ASSERT_TRUE(pair.Client.Send("\xEFne\r\ntwo\n"));
    EXPECT_EQ(pair.Connection.ReadLine(), "one");
    pair.Client.Close(); // the second line must come from the buffer, with no receive
    EXPECT_EQ(pair.Connection.ReadLine(), "two");

    TConnectedPair split;
    std::thread writer([&] {
        for (char c : std::string("split\r\nend\r\n")) {
            split.Client.Send(std::string(1, c));
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_EQ(split.Connection.ReadLine("\r\n", 5000), "split");
    EXPECT_EQ(split.Connection.ReadLine("\r\n", 5000), "end");
    writer.join();

    TConnectedPair other; // a search for one terminator must not hide another one
    ASSERT_TRUE(other.Client.Send("a\nb"));
    ASSERT_TRUE(WaitUntil([&] { return other.Connection.FillInput(true, 0) > 0; }));
    EXPECT_EQ(other.Connection.ReadLine(";", 10), "");
    EXPECT_TRUE(other.Connection.LineTimedOut());
    EXPECT_EQ(other.Connection.ReadLine("", 1000), "a");
}

TEST(TNetTCPConnectionTest, APartialLineThenCloseTimesOutOnceThenRaisesAndFiresTheEventsOnce) {
    TConnectedPair pair;
    std::vector<std::string> texts;
    int disconnected = 0;
    pair.Connection.OnStatus = [&](TNetComponent&, TNetStatus, const std::string& AText) {
        texts.push_back(AText);
    };
    pair.Connection.OnDisconnected = [&](TNetTCPConnection&) { ++disconnected; };
    std::string peer = pair.Connection.Binding().RemoteIP();
    // The local address is read from the socket only when asked for.
    EXPECT_EQ(pair.Connection.Binding().Port(), pair.Listening.Port());
    EXPECT_EQ(pair.Connection.Binding().IP(), "127.0.0.1");
    ASSERT_TRUE(pair.Client.Send("abc"));
    ASSERT_TRUE(WaitUntil([&] { return pair.Connection.FillInput(true, 0) > 0; }));
    pair.Client.Close();
    EXPECT_EQ(pair.Connection.ReadLine(), "");
    EXPECT_TRUE(pair.Connection.LineTimedOut());
    EXPECT_EQ(pair.Connection.ExtractInput(0), "");
    EXPECT_EQ(pair.Connection.InputSize(), 3);
    EXPECT_THROW(pair.Connection.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(pair.Connection.InputSize(), 3);
    EXPECT_FALSE(pair.Connection.Binding().Allocated());
    EXPECT_THROW(pair.Connection.ReadLine(), ENetConnClosedGracefully);
    pair.Connection.CloseConnection();
    EXPECT_EQ(texts,
              (std::vector<std::string>{"Disconnecting from " + peer + ".", "Not connected."}));
    EXPECT_EQ(disconnected, 1);
}

TEST(TNetTCPConnectionTest, ReadIntoStreamTakesBufferedBytesFirst) {
    TConnectedPair pair;
    ASSERT_TRUE(pair.Client.Send("line\nabc"));
    EXPECT_EQ(pair.Connection.ReadLine(), "line"); // "abc" may or may not be buffered by now
    std::ostringstream none;
    pair.Connection.ReadIntoStream(none, 0);
    EXPECT_EQ(none.str(), "");
    ASSERT_TRUE(pair.Client.Send("de-not-this"));
    std::ostringstream five;
    pair.Connection.ReadIntoStream(five, 5);
    EXPECT_EQ(five.str(), "abcde");
    std::ostringstream rest;
    pair.Client.Close();
    pair.Connection.ReadIntoStream(rest, -1, true); // until close: no exception for the close
    EXPECT_EQ(rest.str(), "-not-this");

    TConnectedPair early; // with a count, a close before the end raises
    ASSERT_TRUE(early.Client.Send("12"));
    early.Client.Close();
    std::ostringstream out;
    EXPECT_THROW(early.Connection.ReadIntoStream(out, 5), ENetConnClosedGracefully);
    EXPECT_EQ(out.str(), "12");
}

TEST(TNetTCPConnectionTest, ABatchGoesOutInOneSend) {
    TInjectedStack injected;
    TConnectedPair pair;
    pair.Connection.StartBatch(-1);
    for (int i = 0; i < 20; ++i)
        pair.Connection.SendLine("Header-" + std::to_string(i) + ": value");
    EXPECT_EQ(injected.Stack().Calls(TFailingStack::TCall::Send), 0);
    pair.Connection.SendText("");
    pair.Connection.EndBatch();
    EXPECT_EQ(injected.Stack().Calls(TFailingStack::TCall::Send), 1);
    std::istringstream body("0123456789");
    pair.Connection.SetSendBufferSize(4);
    pair.Connection.SendStream(body);
    EXPECT_EQ(injected.Stack().Calls(TFailingStack::TCall::Send), 4); // chunks of 4, 4 and 2
    pair.Connection.CloseConnection();
    std::string received = pair.Client.ReadUntilClose(5s);
    EXPECT_EQ(received.substr(received.size() - 12), "\r\n0123456789");
}

TEST(TNetTCPConnectionTest, WritingAfterACloseRaisesEvenWithUnreadInput) {
    TConnectedPair pair;
    ASSERT_TRUE(pair.Client.Send("unread"));
    ASSERT_TRUE(WaitUntil([&] { return pair.Connection.FillInput(true, 0) > 0; }));
    pair.Connection.CloseConnection();
    pair.Connection.SendText(""); // nothing to send: not even checked
    EXPECT_THROW(pair.Connection.SendText("x"), ENetConnClosedGracefully);
    EXPECT_EQ(pair.Connection.ExtractInput(6), "unread");
    EXPECT_THROW(pair.Connection.ExtractInput(1), ENetNotEnoughDataInBuffer);
}

TEST(TNetTCPConnectionTest, ACloseFromAnotherThreadWakesABlockedRead) {
    TConnectedPair pair;
    std::thread closer([&] {
        std::this_thread::sleep_for(50ms);
        pair.Connection.CloseSocketOnly();
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(pair.Connection.ReadLine("", WaitForever), ENetConnClosedGracefully);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(pair.Connection.IsConnected());
}

TEST(TNetTCPConnectionTest, AReadTimeoutEndsTheConnectionLikeAClose) {
    TConnectedPair pair;
    pair.Connection.SetReadTimeout(50);
    EXPECT_EQ(pair.Connection.ReadLine("", 10), ""); // an explicit timeout only times out
    EXPECT_TRUE(pair.Connection.LineTimedOut());
    EXPECT_TRUE(pair.Connection.IsConnected());
    EXPECT_THROW(pair.Connection.ReadLine(), ENetConnClosedGracefully);
    EXPECT_FALSE(pair.Connection.IsConnected());
    EXPECT_TRUE(pair.Client.WaitForClose(5s));
}

TEST(TNetTCPConnectionTest, SignalsDuringABlockedReadAreNotReported) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait and the receive see EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    TConnectedPair pair;
    std::string line;
    std::thread reader([&] { line = pair.Connection.ReadLine("", 10000); });
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(10ms);
        pthread_kill(reader.native_handle(), SIGUSR1);
    }
    pair.Client.Send("after signals\n");
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(line, "after signals");
    EXPECT_FALSE(pair.Connection.LineTimedOut());
}

// A client that takes a little now and then lets every single send go ahead; the bound is on
// all of them together.
TEST(TNetTCPConnectionTest, TheSendTimeoutBoundsAllSendsTogether) {
    TConnectedPair pair;
    pair.Connection.SetSendTimeout(300);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            pair.Client.ReadSome(4096, 50ms);
            std::this_thread::sleep_for(5ms);
        }
    });
    const std::string chunk(64 * 1024, 'x');
    const auto started = std::chrono::steady_clock::now();
    try {
        for (int i = 0; i < 100000; ++i)
            pair.Connection.SendText(chunk);
        ADD_FAILURE() << "6 GiB went out to a slow reader";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode(), NetErrTimedOut);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(pair.Connection.IsConnected());
    stop = true;
    reader.join();
}
