// The report of a fixture day against its exact JSON and table, through the settings of a
// program directory, and the failures a user can meet (no file, an unreadable file).
#include "stats/StatsReport.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/ProgramDir.h"
#include "support/TempDir.h"

namespace {

std::string Fixture(const std::string& AName) {
    std::ifstream in(std::string(SKAV_STATS_FIXTURES) + AName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The expected figures of fixtures/20261208.log with the nicknames below: escaped bytes, our
// own and other writers' lines, 304 answers, bots, page and ref parameters, a cut last line.
const char* const FixtureJson =
    R"j({"date":"2026-12-08","hits":12,"pageviews":7,"visitors":6,"optedout":0,"bots":2,)j"
    R"j("unreadable":3,)j"
    R"j("hours":[0,0,0,0,0,0,0,0,2,1,0,2,0,0,0,0,0,0,0,0,0,0,0,2],)j"
    R"j("pages":[{"name":"/about","views":3},{"name":"/contact","views":1},)j"
    R"j({"name":"/über\\x01uns","views":1},{"name":"https://blog.example/post/1","views":1},)j"
    R"j({"name":"https://shop.example/","views":1}],)j"
    R"j("sources":[{"name":"(direct)","views":4},{"name":"news.example","views":1},)j"
    R"j({"name":"search.example","views":1},{"name":"www.example.com","views":1}],)j"
    R"j("visitors_top":[{"name":"Anna","views":2},{"name":"10.0.0.10","views":1},)j"
    R"j({"name":"203.0.113.5","views":1},{"name":"203.0.113.6","views":1},)j"
    R"j({"name":"Office PC","views":1},{"name":"my host","views":1}],)j"
    R"j("browsers":[{"name":"Firefox","views":2},{"name":"Safari","views":2},)j"
    R"j({"name":"Edge","views":1},{"name":"Opera","views":1},{"name":"other","views":1}]})j"
    "\n";

class StatsReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((FDir.Path() + "logs").c_str(), 0755);
        FDir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + FDir.Path() + "logs\r\n");
        // The first line naming an address wins; the nickname switch does not matter here.
        FDir.WriteFile("sk_KAV.NN",
                       "10.0.0.7=Anna\r\n10.0.0.7=Second\r\n192.168.1.20=Office PC\r\n");
        FDir.WriteFile("logs/20261208.log", Fixture("20261208.log"));
        FDir.WriteFile("logs/20261207.log", Fixture("20261207.log"));
        SetProgramDir(FDir.Path());
    }

    // Runs the report (of a range when ATo is given); its status, standard output and error.
    int Run(const std::string& ADay, bool AJson, const std::string& ATo = "") {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        int status = ATo.empty() ? RunStatsReport(ADay, AJson, out, err)
                                 : RunStatsRangeReport(ADay, ATo, AJson, out, err);
        FOut = ReadBack(out);
        FErr = ReadBack(err);
        return status;
    }

    static std::string ReadBack(std::FILE* AFile) {
        std::rewind(AFile);
        std::string text;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, AFile))
            text.append(buffer, n);
        std::fclose(AFile);
        return text;
    }

    TempDir FDir;
    std::string FOut;
    std::string FErr;
};

TEST_F(StatsReportTest, FixtureDayAsJson) {
    ASSERT_EQ(Run("20261208", true), 0) << FErr;
    EXPECT_EQ(FOut, FixtureJson);
    EXPECT_EQ(FErr, "");
}

TEST_F(StatsReportTest, FixtureDayAsTable) {
    ASSERT_EQ(Run("20261208", false), 0) << FErr;
    for (const char* part :
         {"Statistics of 2026-12-08 (", "logs/20261208.log)\n",
          "\nhits        12\npage views   7\nvisitors     6\nopted out    0\nbots         2\n"
          "unreadable   3\n",
          "\nhour   00 01 02 03 04 05 06 07 08 09 10 11",
          "\nviews   0  0  0  0  0  0  0  0  2  1  0  2",
          "\npages                        views\n/about                           3\n",
          "\nsources          views\n(direct)             4\n",
          "/über\\x01uns                     1\n", "\nbrowsers  views\nFirefox       2\n"})
        EXPECT_NE(FOut.find(part), std::string::npos) << part << "\n---\n" << FOut;
}

// A name longer than its column is cut in the middle, on a character's boundary, so that every
// count stays in its column.
TEST_F(StatsReportTest, LongNamesAreCutToTheirColumn) {
    auto line = [](const std::string& APage) {
        return "1.2.3.4 - - [09/Dec/2026:10:00:00 +0100] \"GET /t.gif page=" + APage +
               " HTTP/1.1\" 200 43 \"\" \"Firefox/1\"\r\n";
    };
    const std::string aa = std::string(9, 'a'), rest = std::string(30, 'a');
    FDir.WriteFile("logs/20261209.log",
                   line("/" + aa + "%C3%BC" + rest + std::string(41, 'z')) + line("/short"));
    ASSERT_EQ(Run("20261209", false), 0) << FErr;
    const std::string cut =
        "/" + aa + "\xC3\xBC" + std::string(17, 'a') + "..." + std::string(29, 'z');
    EXPECT_NE(FOut.find("\n" + cut + "      1\n"), std::string::npos) << FOut;
    EXPECT_NE(FOut.find("\n/short" + std::string(54, ' ') + "      1\n"), std::string::npos)
        << FOut;
}

TEST_F(StatsReportTest, DayWithoutEntriesAndFailures) {
    FDir.WriteFile("logs/20261206.log", "");
    ASSERT_EQ(Run("20261206", true), 0);
    EXPECT_EQ(FOut,
              R"j({"date":"2026-12-06","hits":0,"pageviews":0,"visitors":0,"optedout":0,"bots":0,)j"
              R"j("unreadable":0,"hours":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],)j"
              R"j("pages":[],"sources":[],"visitors_top":[],"browsers":[]})j"
              "\n");
    ASSERT_EQ(Run("20261206", false), 0);
    EXPECT_NE(FOut.find("pages  views\n(none)\n"), std::string::npos) << FOut;

    EXPECT_EQ(Run("20261205", true), 1);
    EXPECT_EQ(FOut, "");
    EXPECT_EQ(FErr, "sk_kav: no overview log for 2026-12-05: " + FDir.Path() +
                        "logs/20261205.log does not exist\n");

    ASSERT_EQ(mkdir((FDir.Path() + "logs/20261204.log").c_str(), 0755), 0); // cannot be read
    EXPECT_EQ(Run("20261204", false), 1);
    EXPECT_EQ(FErr, "sk_kav: cannot read " + FDir.Path() + "logs/20261204.log: Is a directory\n");

    EXPECT_EQ(Run("20261332", true), 1);
    EXPECT_EQ(FErr, "sk_kav: 20261332 is not a day (yyyymmdd)\n");
}

// The two fixture days and a missing one summed: visitors are each day's added up, a name's
// views over the days added up, and each day listed with its own figures.
TEST_F(StatsReportTest, RangeAcrossAMissingDay) {
    ASSERT_EQ(Run("20261206", true, "20261208"), 0) << FErr;
    EXPECT_EQ(
        FOut,
        R"j({"from":"2026-12-06","to":"2026-12-08","hits":16,"pageviews":11,"visitors":9,)j"
        R"j("optedout":0,"bots":2,"unreadable":3,"hours":[0,0,0,0,0,0,0,0,5,1,0,2,0,0,1,0,0,0,0,0,0,0,0,2],)j"
        R"j("pages":[{"name":"/about","views":7},{"name":"/contact","views":1},)j"
        R"j({"name":"/über\\x01uns","views":1},{"name":"https://blog.example/post/1","views":1},)j"
        R"j({"name":"https://shop.example/","views":1}],)j"
        R"j("sources":[{"name":"(direct)","views":8},{"name":"news.example","views":1},)j"
        R"j({"name":"search.example","views":1},{"name":"www.example.com","views":1}],)j"
        R"j("visitors_top":[{"name":"Anna","views":3},{"name":"10.0.0.9","views":2},)j"
        R"j({"name":"10.0.0.10","views":1},{"name":"10.0.0.8","views":1},)j"
        R"j({"name":"203.0.113.5","views":1},{"name":"203.0.113.6","views":1},)j"
        R"j({"name":"Office PC","views":1},{"name":"my host","views":1}],)j"
        R"j("browsers":[{"name":"Firefox","views":6},{"name":"Safari","views":2},)j"
        R"j({"name":"Edge","views":1},{"name":"Opera","views":1},{"name":"other","views":1}],)j"
        R"j("days":[{"date":"2026-12-06","pageviews":0,"visitors":0},)j"
        R"j({"date":"2026-12-07","pageviews":4,"visitors":3},)j"
        R"j({"date":"2026-12-08","pageviews":7,"visitors":6}]})j"
        "\n");
    // One day as a range has the day's figures.
    ASSERT_EQ(Run("20261208", true, "20261208"), 0) << FErr;
    EXPECT_NE(FOut.find(std::string(FixtureJson).substr(21, 200)), std::string::npos) << FOut;
    ASSERT_EQ(Run("20261206", false, "20261208"), 0) << FErr;
    for (const char* part : {"Statistics of 2026-12-06 to 2026-12-08 (", "\nvisitors     9\n",
                             "(visitors: the sum of each day's visitors)",
                             "\n2026-12-06         -         -  (no log file)\n",
                             "\n2026-12-07         4         3\n", "\nAnna               3\n"})
        EXPECT_NE(FOut.find(part), std::string::npos) << part << "\n---\n" << FOut;
}

TEST_F(StatsReportTest, RangeFailures) {
    ASSERT_EQ(mkdir((FDir.Path() + "logs/20261209.log").c_str(), 0755), 0); // cannot be read
    const struct {
        const char* From;
        const char* To;
        const char* Err;
        bool Printed; // the readable days are reported all the same
    } cases[] = {
        {"20261208", "20261207", "sk_kav: --to is before --from\n", false},
        {"20251207", "20261208", "sk_kav: a range holds at most 366 days\n", false},
        {"2026120", "20261208", "sk_kav: --from 2026120 is not a day (yyyymmdd)\n", false},
        {"20261201", "20261203", "sk_kav: no overview log from 2026-12-01 to 2026-12-03 in ",
         false},
        {"20261208", "20261209", "sk_kav: cannot read the overview log of 2026-12-09: ", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.From, true, c.To), 1) << c.From;
        EXPECT_TRUE(FErr.starts_with(c.Err)) << FErr;
        EXPECT_EQ(!FOut.empty(), c.Printed) << c.From;
    }
}

} // namespace
