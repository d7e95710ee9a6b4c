#include "config/TProfileFile.h"

#include <gtest/gtest.h>

namespace {

TProfileFile WithText(const std::string& AText) {
    TProfileFile file("unused");
    file.SetText(AText);
    return file;
}

} // namespace

// Decimal or 0x hexadecimal within 32 bits; anything else gives the default 88. Booleans are
// the same integers: non-zero is true, and a value that is no number the default.
TEST(TProfileFileTest, IntegersDecimalHexAndDefaults) {
    // clang-format off
    const std::pair<const char*, int32_t> cases[] = {
        {"80", 80}, {"0", 0}, {"0x50", 80}, {"0X1f", 31}, {"abc", 88}, {"", 88}, {"-5", -5},
        {"+7", 7}, {"  42 ", 42}, {"12abc", 88}, {"0x", 88}, {"0x1g", 88}, {"1.5", 88},
        {"- 1", 88}, {"2147483647", 2147483647}, {"2147483648", 88}, {"-2147483648", INT32_MIN},
        {"0xFFFFFFFF", -1}, {"0x100000000", 88}, {"99999999999999999999", 88}};
    // clang-format on
    for (const auto& [value, expected] : cases) {
        TProfileFile file = WithText(std::string("[General]\r\nServerPort=") + value + "\r\n");
        EXPECT_EQ(file.ReadInteger("General", "ServerPort", 88), expected) << value;
        EXPECT_EQ(file.ReadBool("General", "ServerPort", false), expected != 88 && expected != 0)
            << value;
        EXPECT_EQ(file.ReadBool("General", "ServerPort", true), expected != 0) << value;
    }
    EXPECT_EQ(WithText("").ReadInteger("General", "ServerPort", 88), 88);
}

TEST(TProfileFileTest, NamesIgnoreCaseAndFirstMatchWins) {
    TProfileFile file = WithText("Orphan=1\r\n[ general ]\r\n;AppTitle=Comment\r\n"
                                 " apptitle = Shop  \r\nAPPTITLE=Second\r\n"
                                 "[Other]\r\nKey=other\r\n[GENERAL]\r\nKey=late\r\n");
    EXPECT_EQ(file.ReadString("GENERAL", "appTITLE", "-"), "Shop");
    EXPECT_EQ(file.ReadString("General", "Key", "-"), "-"); // only the first section counts
    EXPECT_EQ(file.ReadString("other", "KEY", "-"), "other");
    EXPECT_EQ(file.ReadString("General", "Orphan", "-"), "-");
    EXPECT_EQ(file.ReadString("Missing", "Key", "dflt"), "dflt");

    TProfileFile marked = WithText("\xEF\xBB\xBF[General]\r\nAutoStart=1\r\n");
    EXPECT_TRUE(marked.ReadBool("General", "AutoStart", false));
    ASSERT_TRUE(marked.WriteBool("General", "AutoStart", false));
    EXPECT_EQ(marked.Text(), "\xEF\xBB\xBF[General]\r\nAutoStart=0\r\n");
}

TEST(TProfileFileTest, TextsAreCutAt2047Characters) {
    TProfileFile file = WithText("[G]\r\nT=" + std::string(3000, 'x') + "\r\nE=\r\n");
    EXPECT_EQ(file.ReadString("G", "T", ""), std::string(2047, 'x'));
    EXPECT_EQ(file.ReadString("G", "E", "dflt"), ""); // present but empty is not missing
}

// Comments, unknown keys and line ends stay; new keys go to the end of their section, new
// sections to the end of the file.
TEST(TProfileFileTest, WritingChangesOnlyThatLine) {
    TProfileFile file = WithText("; hand-written comment\n[General]\nAppTitle=Shop\r\n"
                                 "autostart=0\r\nUnknown=keep me\n\r\n[WindowPos]\r\nTop=5");
    ASSERT_TRUE(file.WriteBool("GENERAL", "AutoStart", true));
    ASSERT_TRUE(file.WriteInteger("General", "ServerPort", 8080));
    ASSERT_TRUE(file.WriteInteger("WindowPos", "Left", -3));
    ASSERT_TRUE(file.WriteString("DetailLog", "WrapLines", "1"));
    EXPECT_EQ(file.Text(), "; hand-written comment\n[General]\nAppTitle=Shop\r\n"
                           "AutoStart=1\r\nUnknown=keep me\nServerPort=8080\r\n\r\n"
                           "[WindowPos]\r\nTop=5\r\nLeft=-3\r\n[DetailLog]\r\nWrapLines=1\r\n");
}

TEST(TProfileFileTest, LineBreaksInValuesAreRefused) {
    TProfileFile file = WithText("[General]\r\nLogDir=/old/\r\n");
    EXPECT_FALSE(file.WriteString("General", "LogDir", "/a\r\nServerPort=1"));
    EXPECT_FALSE(file.WriteString("General", "LogDir", "/a\n"));
    EXPECT_FALSE(file.WriteString("New]Section", "Key", "v"));
    EXPECT_FALSE(file.WriteString("General", "Key=", "v"));
    EXPECT_EQ(file.Text(), "[General]\r\nLogDir=/old/\r\n");
}
