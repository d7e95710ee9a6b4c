#include "logging/sk_InetFuncs.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netdb.h>
#include <thread>
#include <vector>

#include "support/ZoneAndClock.h"

namespace {

// What the machine's resolver answers for an address, asked directly.
std::string ResolverName(const char* AAddress) {
    sockaddr_in address{AF_INET, 0, {inet_addr(AAddress)}, {}};
    char host[NI_MAXHOST] = {};
    return getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                       sizeof host, nullptr, 0, NI_NAMEREQD) == 0
               ? host
               : "";
}

// The same for an IPv6 address.
std::string ResolverName6(const char* AAddress) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, AAddress, &address.sin6_addr) != 1)
        return "";
    char host[NI_MAXHOST] = {};
    return getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                       sizeof host, nullptr, 0, NI_NAMEREQD) == 0
               ? host
               : "";
}

} // namespace

// IPv6 addresses are looked up as IPv6, in any spelling; an IPv4-mapped one as its IPv4 address.
TEST(sk_InetFuncsTest, IPv6AddressesAreLookedUpAsIPv6) {
    EXPECT_EQ(HostNameOf("::1"), ResolverName6("::1"));
    EXPECT_EQ(HostNameOf("0:0::1"), ResolverName6("::1"));
    EXPECT_EQ(HostNameOf("::ffff:127.0.0.1"), ResolverName("127.0.0.1"));
    if (ResolverName6("2001:db8::1").empty()) { // a documentation address
        EXPECT_EQ(HostNameOf("2001:db8::1"), "");
    }
}

TEST(sk_InetFuncsTest, LoopbackGivesTheResolversNameOnManyThreadsAtOnce) {
    const std::string expected = ResolverName("127.0.0.1");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            try {
                for (int i = 0; i < 20; ++i)
                    wrong += HostNameOf("127.0.0.1") == expected ? 0 : 1;
            } catch (...) {
                ++wrong;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(sk_InetFuncsTest, AddressesWithoutAnEntryGiveEmptyText) {
    // A documentation address and the all-ones address that a non-address converts to.
    for (const char* address : {"192.0.2.1", "255.255.255.255"})
        if (!ResolverName(address).empty())
            GTEST_SKIP() << "this machine's resolver knows " << address;
    for (const char* address : {"192.0.2.1", "not an address", ""})
        EXPECT_EQ(HostNameOf(address), "") << address;
}

TEST(sk_InetFuncsTest, StampsUseLocalTimeWithFixedWidthsAndSeparators) {
    ScopedTimeZone zone(ZoneKolkata);
    ScopedClock clock(UtcInstant(2026, 12, 7, 8, 33, 7, 45)); // 14:03:07.045 in Kolkata
    EXPECT_EQ(ShortTimeStamp(), "14:03:07:045");
    EXPECT_EQ(LongTimeStamp(), "2026/12/07 14:03:07:045");
}
