#include "http/TNetBase64Decoder.h"

#include "http/NetHTTPExceptions.h"

#include <gtest/gtest.h>

// The message of the E that AAction raises; "(none)" when it raises nothing.
template <class E, class F> static std::string MessageOf(F AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.what();
    }
    return "(none)";
}

TEST(TNetBase64DecoderTest, DecodesGroupsAndFinalPadding) {
    const TNetBase64Decoder decoder;
    EXPECT_EQ(decoder.Decode("dXNlcjpwYXNz"), "user:pass");
    EXPECT_EQ(decoder.Decode("QQ=="), "A");
    EXPECT_EQ(decoder.Decode("QQ"), "A");
    EXPECT_EQ(decoder.Decode("QUI="), "AB");
    EXPECT_EQ(decoder.Decode("QUI"), "AB");
    EXPECT_EQ(decoder.Decode("dXNl\r\ncjpw\nYXNz"), "user:pass");
    EXPECT_EQ(decoder.Decode(""), "");
    EXPECT_EQ(decoder.Decode("QUJD="), "ABC");
    EXPECT_EQ(decoder.Decode("AP8A"), std::string("\0\xff\0", 3));
    for (const char* bad : {" QQ==", "Q\tQ=", "QQ==QUI=", "a", "QUJDa", "QU=I", "Q-_A"})
        EXPECT_EQ(MessageOf<ENetTableNotFound>([&] { (void)decoder.Decode(bad); }),
                  "Coding table entry not found.")
            << bad;
}

TEST(TNetBase64DecoderTest, BasicCredentials) {
    const std::pair<const char*, std::string> cases[] = {
        {"Basic dXNlcjpwYXNz", "user|pass"},
        {"BASIC dXNlcg==", "user|"}, // no colon: all user name
        {"Basic OnB3", "|pw"},       // leading colon: empty user name
        {"Basic", "|"},
    };
    std::string user, password;
    for (const auto& [value, expected] : cases) {
        user = password = "?";
        DecodeBasicCredentials(value, user, password);
        EXPECT_EQ(user + "|" + password, expected) << value;
    }
    EXPECT_EQ(MessageOf<ENetHTTPServerError>(
                  [&] { DecodeBasicCredentials("Digest abc", user, password); }),
              "Unsupported authorization scheme.");
}
