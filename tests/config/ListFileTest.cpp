#include "config/ListFile.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

TEST(ListFileTest, SplitsAtEveryKindOfLineEnd) {
    struct Case {
        std::string Text;
        Lines Expected;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\nb\r\n", {"a", "", "b"}},
        {"\r\r\n", {"", ""}},
        {"\n\r", {"", ""}},
        {" 10.0.0.7 = Anna \r\n", {" 10.0.0.7 = Anna "}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitListLines(c.Text), c.Expected) << c.Text;
}
