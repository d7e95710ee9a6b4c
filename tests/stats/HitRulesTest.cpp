// The counting rules one by one: bots, browser families, the tracking image, parameters,
// hosts of URLs and names as they are shown.
#include "stats/HitRules.h"

#include <gtest/gtest.h>

namespace {

TEST(HitRulesTest, BotsAndBrowserFamilies) {
    const struct {
        const char* Agent;
        bool Bot;
        const char* Family;
    } cases[] = {
        {"Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0", false,
         "Firefox"},
        {"Mozilla/5.0 (iPhone) AppleWebKit/605.1.15 (KHTML, like Gecko) FxiOS/120.0 "
         "Mobile/15E148 Safari/605.1.15",
         false, "Firefox"},
        {"Mozilla/5.0 (Windows NT 10.0) AppleWebKit/537.36 Chrome/120.0 Safari/537.36", false,
         "Chrome"},
        {"Mozilla/5.0 (Windows NT 10.0) AppleWebKit/537.36 Chrome/120.0 Safari/537.36 "
         "Edg/120.0",
         false, "Edge"},
        {"Mozilla/5.0 (Windows NT 10.0) AppleWebKit/537.36 Chrome/119.0 Safari/537.36 OPR/105",
         false, "Opera"},
        {"Mozilla/5.0 (Macintosh) AppleWebKit/605.1.15 Version/17.1 Safari/605.1.15", false,
         "Safari"},
        {"", false, "other"},
        {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", true, "other"},
        {"Mozilla/5.0 (compatible; YandexBOT/3.0)", true, "other"},
        {"Mozilla/5.0 AppleWebKit/537.36 HeadlessChrome/120.0 Safari/537.36", true, "Chrome"},
        {"curl/8.4.0", true, "other"},
        {"python-requests/2.31", true, "other"},
        {"Mozilla/5.0 (compatible; Yahoo! Slurp)", true, "other"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsBotAgent(c.Agent), c.Bot) << c.Agent;
        EXPECT_EQ(BrowserFamilyOf(c.Agent), c.Family) << c.Agent;
    }
    // A word far beyond the start of a huge agent is not looked for: the cost stays bounded.
    EXPECT_FALSE(IsBotAgent(std::string(600, 'a') + "bot"));
    EXPECT_TRUE(IsBotAgent(std::string(500, 'a') + "bot"));
}

TEST(HitRulesTest, GifDocumentsParametersAndHosts) {
    for (const char* document : {"/t.gif", "/a/T.GIF", "/x.Gif", ".gif"})
        EXPECT_TRUE(IsGifDocument(document)) << document;
    for (const char* document : {"/gif", "/x.gifs", "/t.gif/", "", "/t.png"})
        EXPECT_FALSE(IsGifDocument(document)) << document;

    const struct {
        const char* Params;
        const char* Name;
        bool Found;
        const char* Value;
    } params[] = {
        {"page=%2Fabout&ref=x", "page", true, "/about"},
        {"id=1&ref=https%3A%2F%2Fa.example%2F%3Fq%3D1+2", "ref", true, "https://a.example/?q=1 2"},
        {"pages=1&page=2&page=3", "page", true, "2"},
        {"p%61ge=%zz%4", "page", true, "%zz%4"},
        {"body=1\r\npage=x", "page", true, "x"},
        {"page", "page", true, ""},
        {"", "page", false, ""},
        {"xpage=1&Page=2", "page", false, ""},
    };
    for (const auto& c : params) {
        std::string value = "old";
        EXPECT_EQ(FindParam(c.Params, c.Name, value), c.Found) << c.Params;
        if (c.Found) {
            EXPECT_EQ(value, c.Value) << c.Params;
        }
    }

    // The same items in order, as a record lists them: names decoded too, empty items left out.
    using TItems = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(DecodedParamsOf("p%61ge=%2F&&x&=v&a+b=c+d=e\r\nid=%zz"),
              (TItems{{"page", "/"}, {"x", ""}, {"", "v"}, {"a b", "c d=e"}, {"id", "%zz"}}));
    EXPECT_EQ(DecodedParamsOf(""), TItems{});

    const struct {
        const char* Url;
        const char* Host;
    } hosts[] = {
        {"https://User:pw@Example.COM:8080/x?y#z", "example.com"},
        {"http://www.example.org.", "www.example.org"},
        {"//cdn.example/x", "cdn.example"},
        {"example.net/path", "example.net"},
        {"http://[2001:db8::1]:88/", "[2001:db8::1]"},
        {"android-app://com.example.app/", "com.example.app"},
        {"https:///nohost", ""},
        {"", ""},
    };
    for (const auto& c : hosts) {
        std::string host = "old";
        AssignHostOf(c.Url, host);
        EXPECT_EQ(host, c.Host) << c.Url;
    }
    EXPECT_EQ(WithoutQueryAndFragment("http://a/b?c#d"), "http://a/b");
    EXPECT_EQ(WithoutQueryAndFragment("http://a/b#d?c"), "http://a/b");
}

TEST(HitRulesTest, DisplayNamesArePrintableUtf8) {
    const struct {
        std::string Name;
        const char* Shown;
    } cases[] = {
        {"/about", "/about"},
        {"/\xC3\xBC"
         "ber",
         "/\xC3\xBC"
         "ber"}, // UTF-8 stays
        {"\xE2\x82\xAC \xF0\x9F\x98\x80", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
        {std::string("a\0b\x1B\x7F", 5), "a\\x00b\\x1B\\x7F"}, // control characters
        {"\xC2\x85", "\\xC2\\x85"},                            // a C1 control character
        {"a\\b", "a\\x5Cb"},                                   // the escape character itself
        {"\xFF\xC3", "\\xFF\\xC3"},                            // not UTF-8, or cut off
        {"\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"}, // overlong, surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},          // above U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayName(c.Name), c.Shown) << c.Shown;
}

} // namespace
