#include "logging/sk_InetFuncs.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netdb.h>
#include <thread>
#include <vector>

#include "ZoneAndClock.h"

namespace {

// What the machine's resolver answers for an address, asked directly.
std::string ResolverName(const char* AAddress) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(AAddress);
    char host[NI_MAXHOST] = {};
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                         sizeof host, nullptr, 0, NI_NAMEREQD);
    return rc == 0 ? host : "";
}

} // namespace

TEST(sk_InetFuncsTest, LoopbackGivesTheResolversNameEveryTime) {
    const std::string expected = ResolverName("127.0.0.1");
    EXPECT_EQ(HostNameOf("127.0.0.1"), expected);
    EXPECT_EQ(HostNameOf("127.0.0.1"), expected);
}

TEST(sk_InetFuncsTest, AddressesWithoutAnEntryGiveEmptyText) {
    // A documentation address and the all-ones address that a non-address converts to.
    for (const char* address : {"192.0.2.1", "255.255.255.255"}) {
        if (!ResolverName(address).empty())
            GTEST_SKIP() << "this machine's resolver knows " << address;
    }
    EXPECT_EQ(HostNameOf("192.0.2.1"), "");
    EXPECT_EQ(HostNameOf("not an address"), "");
    EXPECT_EQ(HostNameOf(""), "");
}

TEST(sk_InetFuncsTest, LookupsRunOnManyThreadsAtOnce) {
    const std::string expected = ResolverName("127.0.0.1");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            try {
                for (int i = 0; i < 20; ++i)
                    if (HostNameOf("127.0.0.1") != expected)
                        ++wrong;
            } catch (...) {
                ++wrong;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(sk_InetFuncsTest, StampsUseLocalTimeWithFixedWidthsAndSeparators) {
    ScopedTimeZone zone(ZoneKolkata);
    ScopedClock clock(UtcInstant(2026, 12, 7, 8, 33, 7, 45)); // 14:03:07.045 in Kolkata
    EXPECT_EQ(ShortTimeStamp(), "14:03:07:045");
    EXPECT_EQ(LongTimeStamp(), "2026/12/07 14:03:07:045");
    ScopedClock::Set(UtcInstant(2027, 1, 1, 2, 30, 0, 0)); // 08:00:00.000 local
    EXPECT_EQ(ShortTimeStamp(), "08:00:00:000");
    EXPECT_EQ(LongTimeStamp(), "2027/01/01 08:00:00:000");
}
