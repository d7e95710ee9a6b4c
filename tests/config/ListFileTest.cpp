#include "config/ListFile.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

TEST(ListFileTest, SplitsAtEveryKindOfLineEnd) {
    // clang-format off
    const std::pair<std::string, Lines> cases[] = {
        {"", {}}, {"a", {"a"}}, {"a\r\n", {"a"}}, {"\r\r\n", {"", ""}}, {"\n\r", {"", ""}},
        {"a\n\nb\r\n", {"a", "", "b"}}, {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {" 10.0.0.7 = Anna \r\n", {" 10.0.0.7 = Anna "}}};
    // clang-format on
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(SplitListLines(text), expected) << text;
}
