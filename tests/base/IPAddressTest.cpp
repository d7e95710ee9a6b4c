#include "base/IPAddress.h"

#include <gtest/gtest.h>

namespace {

TIPAddress Address(const char* AText) {
    return ParseIPAddress(AText).value();
}

} // namespace

// What a literal reads as: the text every record shows, or nothing for a text that is no
// address literal.
TEST(IPAddressTest, LiteralsAndTheirText) {
    const struct {
        const char* Text;
        const char* Shown; // nullptr: no address
    } cases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"255.255.255.255", "255.255.255.255"},
        {"2001:DB8::1", "2001:db8::1"},
        {"2001:db8:0::1", "2001:db8::1"},
        {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
        {"::ffff:10.0.0.7", "10.0.0.7"}, // IPv4-mapped is the IPv4 client it stands for
        {"::FFFF:0a00:0007", "10.0.0.7"},
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},          // the longest run
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of equal runs
        {"::1:2", "::1:2"},                               // no IPv4 tail for ::/96
        {"fe80::1:2:3:4", "fe80::1:2:3:4"},
        {"01.2.3.4", nullptr},
        {"1.2.3", nullptr},
        {"1.2.3.256", nullptr},
        {" 1.2.3.4", nullptr},
        {"1.2.3.4 ", nullptr},
        {"[::1]", nullptr},
        {"fe80::1%eth0", nullptr},
        {"1::2::3", nullptr},
        {"localhost", nullptr},
        {"", nullptr},
        {"1111:2222:3333:4444:5555:6666:7777:8888:9999", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<TIPAddress> address = ParseIPAddress(c.Text);
        ASSERT_EQ(address.has_value(), c.Shown != nullptr) << c.Text;
        if (!address) {
            EXPECT_EQ(CanonicalAddressText(c.Text), c.Text); // left as it is
            continue;
        }
        EXPECT_EQ(IPAddressText(*address), c.Shown) << c.Text;
        EXPECT_EQ(CanonicalAddressText(c.Text), c.Shown) << c.Text;
        EXPECT_EQ(ParseIPAddress(c.Shown), address) << c.Shown;
    }
    for (int value = 0; value < 256; ++value) { // every octet's value, in every place
        const std::string octet = std::to_string(value);
        const std::string text = octet + "." + octet + "." + octet + "." + octet;
        EXPECT_EQ(IPAddressText(Address(text.c_str())), text);
    }
    EXPECT_TRUE(Address("10.0.0.7").IsV4());
    EXPECT_FALSE(Address("::10.0.0.7").IsV4());
    EXPECT_EQ(AddressAndPort("10.0.0.7", 88), "10.0.0.7:88");
    EXPECT_EQ(AddressAndPort("::", 88), "[::]:88");
}

// Ranges hold the addresses of their family that share the prefix; what is no range is told.
TEST(IPAddressTest, RangesAndLists) {
    const struct {
        const char* Range;
        const char* Inside;
        const char* Outside;
    } cases[] = {
        {"10.0.0.0/8", "10.255.0.1", "11.0.0.1"},
        {"10.1.2.3/8", "10.0.0.1", "9.255.255.255"}, // bits after the prefix do not count
        {"192.0.2.7", "192.0.2.7", "192.0.2.8"},
        {"0.0.0.0/0", "203.0.113.5", "2001:db8::1"},
        {"2001:db8::/32", "2001:db8:ffff::1", "2001:db9::"},
        {"::/0", "2001:db8::1", "10.0.0.1"}, // IPv6 ranges hold no IPv4 address
        {"::ffff:10.0.0.0/104", "10.9.9.9", "11.0.0.1"},
        {"::1/128", "::1", "::2"},
    };
    for (const auto& c : cases) {
        const std::optional<TIPRange> range = ParseIPRange(c.Range);
        ASSERT_TRUE(range) << c.Range;
        EXPECT_TRUE(range->Contains(Address(c.Inside))) << c.Range << " " << c.Inside;
        EXPECT_FALSE(range->Contains(Address(c.Outside))) << c.Range << " " << c.Outside;
    }
    for (const char* bad : {"10.0.0.0/33", "::/129", "10.0.0.0/-1", "10.0.0.0/", "/8",
                            "::ffff:0:0/95", "10.0.0.0/8/8", "10.0.0.0/x", "host/8"})
        EXPECT_FALSE(ParseIPRange(bad)) << bad;

    std::vector<std::string> bad;
    const std::vector<TIPRange> list =
        ParseIPRangeList(" 127.0.0.1 ,,2001:DB8::/48, proxy.example, 10.0.0.0/99,::1", &bad);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(bad, (std::vector<std::string>{"proxy.example", "10.0.0.0/99"}));
    EXPECT_TRUE(InRanges(list, Address("2001:db8:0:ffff::9")));
    EXPECT_TRUE(InRanges(list, Address("::1")));
    EXPECT_FALSE(InRanges(list, Address("127.0.0.2")));
    EXPECT_TRUE(ParseIPRangeList("").empty());
}

// A masked address keeps its first bits in the records' form; the bits given are clamped, and
// an IPv4 client through the socket of both families is masked as IPv4.
TEST(IPAddressTest, MaskedAddressesKeepTheirFirstBits) {
    const struct {
        const char* Text;
        int V4Bits;
        int V6Bits;
        const char* Masked;
    } cases[] = {
        {"203.0.113.7", 16, 32, "203.0.0.0"},
        {"203.0.113.7", 24, 32, "203.0.113.0"},
        {"203.0.113.7", 8, 32, "203.0.0.0"},
        {"203.0.113.7", 12, 32, "203.0.0.0"}, // 0xCB00: the next four bits are zero here
        {"203.255.113.7", 12, 32, "203.240.0.0"},
        {"203.0.113.7", 32, 0, "203.0.113.7"},
        {"203.0.113.7", 0, 128, "0.0.0.0"},
        {"203.0.113.7", 40, 32, "203.0.113.7"}, // beyond the range: all of it
        {"::ffff:203.0.113.7", 16, 128, "203.0.0.0"},
        {"2001:db8:1:2::7", 16, 32, "2001:db8::"},
        {"2001:db8:1:2::7", 16, 48, "2001:db8:1::"},
        {"2001:db8:1:2::7", 16, 64, "2001:db8:1:2::"},
        {"2001:db8:1:2::7", 16, 28, "2001:db0::"},
        {"2001:db8:1:2::7", 16, 0, "::"},
        {"2001:db8:1:2::7", 16, 128, "2001:db8:1:2::7"},
        {"::1", 16, 32, "::"},
        {"localhost", 16, 32, "-"},
        {"", 16, 32, "-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MaskedAddressText(c.Text, c.V4Bits, c.V6Bits), c.Masked)
            << c.Text << " " << c.V4Bits << " " << c.V6Bits;
}
