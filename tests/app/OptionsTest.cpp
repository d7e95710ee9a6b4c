#include "app/Options.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> AArgs, TAppOptions& AOptions, std::string& AError) {
    AArgs.insert(AArgs.begin(), "sk_kav");
    std::vector<char*> argv;
    for (auto& arg : AArgs)
        argv.push_back(arg.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), AOptions, AError);
}

TEST(OptionsTest, AcceptsEachOptionInBothForms) {
    TAppOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--headless", "--dir", "/tmp/x", "--port=8088"}, options, error)) << error;
    EXPECT_TRUE(options.Headless);
    EXPECT_EQ(options.Dir, "/tmp/x");
    EXPECT_EQ(options.Port, 8088);
    TAppOptions other;
    ASSERT_TRUE(Parse({"--dir=/a", "--port", "0"}, other, error));
    EXPECT_EQ(other.Dir, "/a");
    EXPECT_EQ(other.Port, 0);
    EXPECT_FALSE(other.Headless);
    // Any number: a port outside 1..65535 refuses the start, with a Messages line.
    TAppOptions outside;
    ASSERT_TRUE(Parse({"--port", "65536"}, outside, error));
    EXPECT_EQ(outside.Port, 65536);
    ASSERT_TRUE(Parse({"--port=-1"}, outside, error));
    EXPECT_EQ(outside.Port, -1);
}

TEST(OptionsTest, RejectsWhatItDoesNotUnderstand) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"--bogus"},
                                               {"--port"},
                                               {"--port", "80x"},
                                               {"--port", ""},
                                               {"--port", "99999999999"},
                                               {"--dir"},
                                               {"--dir="},
                                               {"--headless=1"},
                                               {"stray"}}) {
        TAppOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
