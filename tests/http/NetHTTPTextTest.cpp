#include "http/NetHTTPText.h"

#include <gtest/gtest.h>

TEST(NetHTTPTextTest, DecodeParamTable) {
    const std::pair<const char*, std::string> cases[] = {
        {"ref=a%20b+c", "ref=a b c"},
        {"x=%2B", "x=+"},   // an escaped plus stays a plus
        {"x=%00y", "x=y"},  // zero vanishes
        {"x=%zzy", "x=y"},  // not hex: the three characters vanish
        {"x=%", "x="},      // cut off at the end
        {"x=%4", "x=\x04"}, // one digit left at the end still counts
        {"%ff", "\xff"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(DecodeParam(in), out) << in;
}

TEST(NetHTTPTextTest, StrictIntegerConversion) {
    long long v = 0;
    EXPECT_TRUE(TryStrToInt64("12", v) && v == 12);
    EXPECT_TRUE(TryStrToInt64("-1", v) && v == -1);
    EXPECT_TRUE(TryStrToInt64("+7", v) && v == 7);
    for (const char* bad : {"", "12 ", " 12", "abc", "+", "-", "+-1", "99999999999999999999"})
        EXPECT_FALSE(TryStrToInt64(bad, v)) << bad;
}
