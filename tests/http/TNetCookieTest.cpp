#include "http/TNetCookie.h"

#include <gtest/gtest.h>

// The cookies found, each as "[name=value]", with " path domain" when either is set.
static std::string Parsed(const std::string& AHeader) {
    TNetCookieCollection cookies;
    ParseCookieHeader(cookies, AHeader);
    std::string text;
    for (int i = 0; i < cookies.Count(); ++i) {
        const TNetCookie& c = cookies.Items(i);
        const bool where = !c.Path.empty() || !c.Domain.empty();
        text += "[" + c.Name + "=" + c.Value + (where ? " " + c.Path + " " + c.Domain : "") + "]";
    }
    return text;
}

TEST(TNetCookieTest, ParseCookieHeaderCases) {
    const std::pair<const char*, const char*> cases[] = {
        {"a=1; b=2", "[a=1][b=2]"},
        {"q=\"x;y\"\"z\"; r=2", "[q=x;y\"z][r=2]"},
        {"$Version=1; a=1; $Path=/p; $DOMAIN=d; $Other=o", "[$Version=1][a=1 /p d]"},
        {"a= spaced ", "[a= spaced ]"},
        {"=v", "[=v]"},
        {"nothing here", ""},
        {"", ""},
        {"a=1;", "[a=1]"},
        {"a=\"open", "[a=open]"},
    };
    for (const auto& [header, expected] : cases)
        EXPECT_EQ(Parsed(header), expected) << header;
}

// Every attribute, in the order clients have always been sent them.
TEST(TNetCookieTest, CookieTextWithEveryAttribute) {
    const TNetCookie cookie{"ID", "x", "d.example", "/", "c", true, 0};
    EXPECT_EQ(cookie.CookieText(), "ID=x; Domain=d.example; Version=\"1\"; Path=/; Max-Age=0; "
                                   "Comment=c; Secure");
}
