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
        {"a%+4b+", "ab "}, // a plus inside an escape is a blank, no digit
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(DecodeParam(in), out) << in;
}
