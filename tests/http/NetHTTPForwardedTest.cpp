#include "http/NetHTTPForwarded.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The proxies of these cases: one on the machine itself and a private network behind it.
const std::vector<TIPRange> Trusted = ParseIPRangeList("127.0.0.1, 10.0.0.0/8, ::1");

TNetHeaderList HeadersOf(const std::vector<std::string>& ALines) {
    TNetHeaderList headers;
    headers.Add("Host: stats.example.org");
    for (const std::string& line : ALines)
        headers.Add(line);
    headers.Add("");
    return headers;
}

// The client's text, or "-" when the header the proxy writes names none: AHeader, or else the
// header of the first line.
std::string ClientOf(const std::vector<std::string>& ALines,
                     std::optional<TNetForwardedHeader> AHeader = std::nullopt) {
    const bool forwarded = !ALines.empty() && ALines.front().rfind("Forwarded:", 0) == 0;
    const TNetForwardedHeader header = AHeader.value_or(
        forwarded ? TNetForwardedHeader::Forwarded : TNetForwardedHeader::XForwardedFor);
    const std::optional<TIPAddress> client = ForwardedClientOf(HeadersOf(ALines), Trusted, header);
    return client ? IPAddressText(*client) : "-";
}

std::string List(int ACount, const std::string& AItem) {
    std::string list;
    for (int i = 0; i < ACount; ++i)
        list += (i ? ", " : "") + AItem;
    return list;
}

} // namespace

TEST(NetHTTPForwardedTest, TheClientIsTheRightmostUntrustedNode) {
    const struct {
        std::vector<std::string> Lines;
        const char* Client;
    } cases[] = {
        {{}, "-"},
        {{"X-Forwarded-For: 203.0.113.5"}, "203.0.113.5"},
        {{"x-forwarded-for:203.0.113.5 , 10.0.0.2"}, "203.0.113.5"},     // through two proxies
        {{"X-Forwarded-For: 198.51.100.9, 203.0.113.5"}, "203.0.113.5"}, // what the client wrote
        {{"X-Forwarded-For: 198.51.100.9", "X-Forwarded-For: 203.0.113.5, 10.0.0.2"},
         "203.0.113.5"},                                       // two lines are one list
        {{"X-Forwarded-For: 10.0.0.3, 10.0.0.2"}, "10.0.0.3"}, // all trusted: the leftmost
        {{"X-Forwarded-For: not-an-address, 203.0.113.5"}, "203.0.113.5"},
        {{"X-Forwarded-For: 203.0.113.5:4711"}, "203.0.113.5"},
        {{"X-Forwarded-For: 2001:DB8:0::7"}, "2001:db8::7"},
        {{"X-Forwarded-For: [2001:db8::7]:4711, ::1"}, "2001:db8::7"},
        {{"X-Forwarded-For: ::ffff:203.0.113.5"}, "203.0.113.5"},
        {{"Forwarded: for=192.0.2.60;proto=http;by=203.0.113.43"}, "192.0.2.60"},
        {{"Forwarded: For=\"[2001:db8:cafe::17]:4711\""}, "2001:db8:cafe::17"},
        {{"Forwarded: for=192.0.2.43, for=\"10.0.0.2:80\";proto=https"}, "192.0.2.43"},
        {{"Forwarded: proto=https;for=\"192.0.2.43\""}, "192.0.2.43"},
        {{"X-Forwarded-For: " + List(16, "10.0.0.9")}, "10.0.0.9"},
        {{"X-Forwarded-For: 198.51.100.1, " + List(15, "10.0.0.9")}, "198.51.100.1"},
    };
    for (const auto& c : cases) {
        const std::string lines = c.Lines.empty() ? "(none)" : c.Lines.front();
        EXPECT_EQ(ClientOf(c.Lines), c.Client) << lines;
    }
}

// Whatever cannot be read, or could be the client's own words where the client should stand,
// names nobody: the request stays the proxy's.
TEST(NetHTTPForwardedTest, MalformedOversizedAndContradictoryValuesNameNobody) {
    const std::vector<std::vector<std::string>> cases = {
        {"X-Forwarded-For: 203.0.113.5, garbage"},
        {"X-Forwarded-For: unknown"},
        {"X-Forwarded-For:"},
        {"X-Forwarded-For: , ,"},
        {"X-Forwarded-For: 203.0.113.5:99999"},
        {"X-Forwarded-For: [203.0.113.5]"},
        {"X-Forwarded-For: 203.0.113.5 10.0.0.2"},
        {"X-Forwarded-For: fe80::1%eth0"},
        {"X-Forwarded-For: 203.0.113.5", " 10.0.0.2"}, // folded onto a second line
        {"X-Forwarded-For: " + List(17, "10.0.0.9")},  // more trusted hops than are read
        {"X-Forwarded-For: " + List(400, "198.51.100.1") + ", 203.0.113.5"}, // too long
        {"X-Forwarded-For: " + std::string(100, '1') + ".0.0.1"},
        {"Forwarded: for=unknown"},
        {"Forwarded: for=_hidden;proto=https"},
        {"Forwarded: for=2001:db8::1"}, // an IPv6 node must be bracketed
        {"Forwarded: for=\"[2001:db8::1\""},
        {"Forwarded: for=\"192.0.2.1"},
        {"Forwarded: for=192.0.2.1;for=192.0.2.2"},
        {"Forwarded: proto=https"},
        {"Forwarded: for"},
        {"Forwarded: for=\"" + std::string(200, 'x') + "\""},
    };
    for (const auto& lines : cases)
        EXPECT_EQ(ClientOf(lines), "-") << lines.front().substr(0, 80);
}

// A proxy writes one of the headers and passes the other on as the client sent it: only the
// one it writes is read, so the other can neither blank nor choose the client's address.
TEST(NetHTTPForwardedTest, OnlyTheHeaderTheProxyWritesIsRead) {
    const struct {
        std::vector<std::string> Lines;
        const char* ByXForwardedFor;
        const char* ByForwarded;
    } cases[] = {
        {{"X-Forwarded-For: 192.0.2.1", "Forwarded: for=192.0.2.2"}, "192.0.2.1", "192.0.2.2"},
        {{"X-Forwarded-For: 192.0.2.1", "Forwarded: for=unknown"}, "192.0.2.1", "-"},
        {{"Forwarded: for=192.0.2.2", "X-Forwarded-For: garbage"}, "-", "192.0.2.2"},
        {{"Forwarded: for=192.0.2.2"}, "-", "192.0.2.2"},
        {{"X-Forwarded-For: 192.0.2.1"}, "192.0.2.1", "-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClientOf(c.Lines, TNetForwardedHeader::XForwardedFor), c.ByXForwardedFor)
            << c.Lines.back();
        EXPECT_EQ(ClientOf(c.Lines, TNetForwardedHeader::Forwarded), c.ByForwarded)
            << c.Lines.back();
    }
}

TEST(NetHTTPForwardedTest, NodesAndForParameters) {
    EXPECT_EQ(ParseForwardedNode("192.0.2.7:_port", false), ParseIPAddress("192.0.2.7"));
    EXPECT_EQ(ParseForwardedNode("2001:db8::7", true), ParseIPAddress("2001:db8::7"));
    EXPECT_FALSE(ParseForwardedNode("2001:db8::7", false));
    EXPECT_FALSE(ParseForwardedNode("[2001:db8::7]x", true));
    EXPECT_FALSE(ParseForwardedNode("192.0.2.7:", true));
    EXPECT_EQ(ForwardedForOf("by=10.0.0.1; for=\"[::1]:80\""), ParseIPAddress("::1"));
    EXPECT_EQ(ForwardedForOf("for=\"192.0.2.\\7\""), ParseIPAddress("192.0.2.7"));
    EXPECT_FALSE(ForwardedForOf("for=\"192.0.2.7\";host=\"a;b"));
}
