#include "http/TNetBase64Decoder.h"

#include "http/NetHTTPExceptions.h"

#include <gtest/gtest.h>

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
}

TEST(TNetBase64DecoderTest, RejectsCharactersOutsideTheAlphabet) {
    const TNetBase64Decoder decoder;
    for (const char* bad : {" QQ==", "Q\tQ=", "QQ==QUI=", "a", "QUJDa", "QU=I", "Q-_A"}) {
        try {
            (void)decoder.Decode(bad);
            ADD_FAILURE() << bad;
        } catch (const ENetTableNotFound& e) {
            EXPECT_STREQ(e.what(), "Coding table entry not found.");
        }
    }
}

TEST(TNetBase64DecoderTest, BasicCredentials) {
    const struct {
        const char* Value;
        const char* User;
        const char* Password;
    } cases[] = {
        {"Basic dXNlcjpwYXNz", "user", "pass"},
        {"basic dXNlcjpwYXNz", "user", "pass"},
        {"BASIC dXNlcg==", "user", ""}, // no colon: all user name
        {"Basic OnB3", "", "pw"},       // leading colon: empty user name
        {"Basic YTpiOmM", "a", "b:c"},  // later colons belong to the password
        {"Basic", "", ""},
    };
    for (const auto& c : cases) {
        std::string user = "?", password = "?";
        DecodeBasicCredentials(c.Value, user, password);
        EXPECT_EQ(user, c.User) << c.Value;
        EXPECT_EQ(password, c.Password) << c.Value;
    }
    std::string user, password;
    EXPECT_THROW(DecodeBasicCredentials("Basic  dXNlcg==", user, password), ENetTableNotFound);
    try {
        DecodeBasicCredentials("Digest abc", user, password);
        ADD_FAILURE();
    } catch (const ENetHTTPServerError& e) {
        EXPECT_STREQ(e.what(), "Unsupported authorization scheme.");
    }
}
