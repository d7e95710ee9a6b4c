#include "http/TNetCookie.h"

#include <gtest/gtest.h>

namespace {

struct TExpected {
    std::string Name, Value, Path, Domain;
};

void ExpectCookies(const std::string& AHeader, const std::vector<TExpected>& AExpected) {
    TNetCookieCollection cookies;
    ParseCookieHeader(cookies, AHeader);
    ASSERT_EQ(cookies.Count(), static_cast<int>(AExpected.size())) << AHeader;
    for (size_t i = 0; i < AExpected.size(); ++i) {
        const TNetCookie& c = cookies.Items(static_cast<int>(i));
        EXPECT_EQ(c.Name, AExpected[i].Name) << AHeader;
        EXPECT_EQ(c.Value, AExpected[i].Value) << AHeader;
        EXPECT_EQ(c.Path, AExpected[i].Path) << AHeader;
        EXPECT_EQ(c.Domain, AExpected[i].Domain) << AHeader;
    }
}

} // namespace

TEST(TNetCookieTest, ParseCookieHeaderCases) {
    ExpectCookies("a=1; b=2", {{"a", "1", "", ""}, {"b", "2", "", ""}});
    ExpectCookies("q=\"x;y\"\"z\"; r=2", {{"q", "x;y\"z", "", ""}, {"r", "2", "", ""}});
    ExpectCookies("$Version=1; a=1; $Path=/p; $DOMAIN=d; $Other=o",
                  {{"$Version", "1", "", ""}, {"a", "1", "/p", "d"}});
    ExpectCookies("a= spaced ", {{"a", " spaced ", "", ""}});
    ExpectCookies("=v", {{"", "v", "", ""}});
    ExpectCookies("nothing here", {});
    ExpectCookies("", {});
    ExpectCookies("a=1;", {{"a", "1", "", ""}});
    ExpectCookies("a=\"open", {{"a", "open", "", ""}});
}

TEST(TNetCookieTest, CookieTextAndLookup) {
    TNetCookieCollection cookies;
    TNetCookie& plain = cookies.Add();
    plain.Name = "n";
    plain.Value = "v";
    EXPECT_EQ(plain.CookieText(), "n=v; Version=\"1\"");
    TNetCookie& full = cookies.Add();
    full = {"ID", "x", "d.example", "/", "c", true, 0};
    EXPECT_EQ(full.CookieText(), "ID=x; Domain=d.example; Version=\"1\"; Path=/; Max-Age=0; "
                                 "Comment=c; Secure");
    EXPECT_EQ(cookies.FindByName("id"), 1);
    EXPECT_EQ(cookies.FindByName("N", 1), -1);
    EXPECT_EQ(cookies.FindByName("n", 5), -1);
}
