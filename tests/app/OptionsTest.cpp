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

TEST(OptionsTest, ACertificateWithOrWithoutItsKey) {
    TAppOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--headless", "--cert", "/c.pem", "--key=/k.pem"}, options, error)) << error;
    EXPECT_EQ(options.CertFile, "/c.pem");
    EXPECT_EQ(options.KeyFile, "/k.pem");
    TAppOptions combined;
    ASSERT_TRUE(Parse({"--cert=/both.pem"}, combined, error)) << error;
    EXPECT_EQ(combined.CertFile, "/both.pem");
    EXPECT_FALSE(combined.KeyFile);
}

TEST(OptionsTest, ReportWithAndWithoutADay) {
    const struct {
        std::vector<std::string> Args;
        const char* Day;
        bool Json;
        bool Store = false;
        const char* Instance = "";
    } cases[] = {
        {{"--report"}, "", false},
        {{"--report", "20261208", "--json"}, "20261208", true},
        {{"--json", "--report=20240229", "--dir", "/x"}, "20240229", true},
        {{"--report", "--dir", "/x"}, "", false},
        {{"--report", "--store"}, "", false, true},
        {{"--store", "--instance=b 2", "--report", "20261208"}, "20261208", false, true, "b 2"},
        {{"--report", "--from", "20261201", "--store", "--instance", "a"}, "", false, true, "a"},
    };
    for (const auto& c : cases) {
        TAppOptions options;
        std::string error;
        ASSERT_TRUE(Parse(c.Args, options, error)) << error;
        EXPECT_TRUE(options.Report);
        EXPECT_EQ(options.ReportDay, c.Day);
        EXPECT_EQ(options.Json, c.Json);
        EXPECT_EQ(options.Store, c.Store);
        EXPECT_EQ(options.Instance, c.Instance);
    }
}

TEST(OptionsTest, ReportOfARangeAndThePasswordRun) {
    TAppOptions options;
    std::string error;
    ASSERT_TRUE(
        Parse({"--report", "--from", "20261201", "--to=20261208", "--json"}, options, error))
        << error;
    EXPECT_EQ(options.ReportFrom, "20261201");
    EXPECT_EQ(options.ReportTo, "20261208");
    EXPECT_EQ(options.ReportDay, "");
    TAppOptions password;
    ASSERT_TRUE(Parse({"--dashboard-password", "--dir", "/x"}, password, error)) << error;
    EXPECT_TRUE(password.DashboardPassword);
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
                                               {"stray"},
                                               {"--json"},
                                               {"--report", "2026128"},
                                               {"--report", "20230229"},
                                               {"--report=x"},
                                               {"--report", "20261208", "20261209"},
                                               {"--json=1", "--report"},
                                               {"--cert"},
                                               {"--cert="},
                                               {"--key", "/k.pem"},
                                               {"--cert", "/c.pem", "--key", ""},
                                               {"--from", "20261201"},
                                               {"--report", "--to", "20261201"},
                                               {"--report", "--from", "2026-12-01"},
                                               {"--report", "20261208", "--from", "20261201"},
                                               {"--dashboard-password", "--headless"},
                                               {"--dashboard-password=1"},
                                               {"--store"},
                                               {"--store=1", "--report"},
                                               {"--report", "--instance", "a"},
                                               {"--report", "--store", "--instance="},
                                               {"--erase"},
                                               {"--erase="},
                                               {"--dry-run"},
                                               {"--erase", "10.0.0.1", "--report"},
                                               {"--dry-run=1", "--erase", "10.0.0.1"}}) {
        TAppOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
