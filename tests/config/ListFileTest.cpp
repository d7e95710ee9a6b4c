#include "config/ListFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

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

TEST(ListFileTest, WritesCrLfAfterEveryLine) {
    TempDir dir;
    ASSERT_TRUE(WriteListFile(dir.Path() + "l", {"10.0.0.7=Anna", "", "x"}));
    EXPECT_EQ(dir.ReadFile("l"), "10.0.0.7=Anna\r\n\r\nx\r\n");
    ASSERT_TRUE(WriteListFile(dir.Path() + "l", {}));
    EXPECT_TRUE(dir.Exists("l"));
    EXPECT_EQ(dir.ReadFile("l"), "");

    Lines lines{"stale"};
    EXPECT_FALSE(ReadListFile(dir.Path() + "missing", lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(WriteListFile(dir.Path() + "no/such/dir/l", {"a"}));
}
