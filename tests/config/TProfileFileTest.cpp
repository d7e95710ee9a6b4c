#include "config/TProfileFile.h"

#include <gtest/gtest.h>

namespace {

TProfileFile WithText(const std::string& AText) {
    TProfileFile file("unused");
    file.SetText(AText);
    return file;
}

} // namespace

TEST(TProfileFileTest, IntegersDecimalHexAndDefaults) {
    struct Case {
        const char* Value;
        int32_t Expected;
    };
    const Case cases[] = {
        {"80", 80},
        {"0x50", 80},
        {"0X1f", 31},
        {"abc", 88},
        {"", 88},
        {"-5", -5},
        {"+7", 7},
        {"  42 ", 42},
        {"12abc", 88},
        {"0x", 88},
        {"0x1g", 88},
        {"2147483647", 2147483647},
        {"2147483648", 88},
        {"-2147483648", INT32_MIN},
        {"0xFFFFFFFF", -1},
        {"0x100000000", 88},
        {"99999999999999999999", 88},
        {"1.5", 88},
        {"- 1", 88},
    };
    for (const Case& c : cases) {
        TProfileFile file = WithText(std::string("[General]\r\nServerPort=") + c.Value + "\r\n");
        EXPECT_EQ(file.ReadInteger("General", "ServerPort", 88), c.Expected) << c.Value;
    }
    EXPECT_EQ(WithText("").ReadInteger("General", "ServerPort", 88), 88);
}

TEST(TProfileFileTest, BooleansAreIntegers) {
    TProfileFile file = WithText("[G]\nA=2\nB=\nC=0\nD=-1\nE=yes\n");
    EXPECT_TRUE(file.ReadBool("G", "A", false));
    EXPECT_FALSE(file.ReadBool("G", "B", false));
    EXPECT_TRUE(file.ReadBool("G", "B", true)); // empty is not a number: the default
    EXPECT_FALSE(file.ReadBool("G", "C", true));
    EXPECT_TRUE(file.ReadBool("G", "D", false));
    EXPECT_TRUE(file.ReadBool("G", "E", true));
    EXPECT_TRUE(file.ReadBool("G", "Missing", true));
}

TEST(TProfileFileTest, NamesIgnoreCaseAndFirstMatchWins) {
    TProfileFile file = WithText("Orphan=1\r\n"
                                 "[ general ]\r\n"
                                 ";AppTitle=Comment\r\n"
                                 " apptitle = Shop  \r\n"
                                 "APPTITLE=Second\r\n"
                                 "[Other]\r\n"
                                 "Key=other\r\n"
                                 "[GENERAL]\r\n"
                                 "Key=late\r\n");
    EXPECT_EQ(file.ReadString("General", "AppTitle", "-"), "Shop");
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
    std::string longValue(3000, 'x');
    TProfileFile file = WithText("[G]\r\nT=" + longValue + "\r\nE=\r\n");
    EXPECT_EQ(file.ReadString("G", "T", ""), std::string(2047, 'x'));
    EXPECT_EQ(file.ReadString("G", "E", "dflt"), ""); // present but empty is not missing
}

TEST(TProfileFileTest, WritingChangesOnlyThatLine) {
    const std::string original = "; hand-written comment\n"
                                 "[General]\n"
                                 "AppTitle=Shop\r\n"
                                 "autostart=0\r\n"
                                 "Unknown=keep me\n"
                                 "\r\n"
                                 "[WindowPos]\r\n"
                                 "Top=5";
    TProfileFile file = WithText(original);
    ASSERT_TRUE(file.WriteBool("GENERAL", "AutoStart", true));
    ASSERT_TRUE(file.WriteInteger("General", "ServerPort", 8080));
    ASSERT_TRUE(file.WriteInteger("WindowPos", "Left", -3));
    ASSERT_TRUE(file.WriteString("DetailLog", "WrapLines", "1"));
    EXPECT_EQ(file.Text(), "; hand-written comment\n"
                           "[General]\n"
                           "AppTitle=Shop\r\n"
                           "AutoStart=1\r\n"
                           "Unknown=keep me\n"
                           "ServerPort=8080\r\n"
                           "\r\n"
                           "[WindowPos]\r\n"
                           "Top=5\r\n"
                           "Left=-3\r\n"
                           "[DetailLog]\r\n"
                           "WrapLines=1\r\n");
}

TEST(TProfileFileTest, LineBreaksInValuesAreRefused) {
    TProfileFile file = WithText("[General]\r\nLogDir=/old/\r\n");
    EXPECT_FALSE(file.WriteString("General", "LogDir", "/a\r\nServerPort=1"));
    EXPECT_FALSE(file.WriteString("General", "LogDir", "/a\n"));
    EXPECT_FALSE(file.WriteString("New]Section", "Key", "v"));
    EXPECT_FALSE(file.WriteString("General", "Key=", "v"));
    EXPECT_EQ(file.Text(), "[General]\r\nLogDir=/old/\r\n");
}
