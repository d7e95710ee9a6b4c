#include "http/TNetMimeTable.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(TNetMimeTableTest, FileThenBuiltInThenOctetStream) {
    TempDir dir;
    dir.WriteFile("mime.types", "# comment\ntext/x-test\t\ttst TS2\nimage/gif gif\n"
                                "image/other gif\n\napplication/x-none\n");
    TNetMimeTable table(dir.Path() + "mime.types");
    EXPECT_EQ(table.MimeTypeOf("/a/b.TST"), "text/x-test");
    EXPECT_EQ(table.MimeTypeOf("c.ts2"), "text/x-test");
    EXPECT_EQ(table.MimeTypeOf("x.gif"), "image/other");     // a later entry replaces
    EXPECT_EQ(table.MimeTypeOf("robots.TXT"), "text/plain"); // built-in
    EXPECT_EQ(table.MimeTypeOf("x.unknown"), "application/octet-stream");
    EXPECT_EQ(table.MimeTypeOf("dir.d/noext"), "application/octet-stream");
    EXPECT_EQ(ExtractFileExtension("dir.d/name.tar.gz"), ".gz");
}

TEST(TNetMimeTableTest, WorksWithoutTheSystemFile) {
    TNetMimeTable table("/nonexistent/mime.types");
    EXPECT_EQ(table.MimeTypeOf("1x1.GIF"), "image/gif");
    EXPECT_EQ(table.MimeTypeOf("index.htm"), "text/html");
}

TEST(TNetMimeTableTest, SystemFileKnowsGif) {
    TNetMimeTable table;
    EXPECT_EQ(table.MimeTypeOf("1x1.GIF"), "image/gif");
}

// Misses reload the maps while other threads look up; TSan checks the guard.
TEST(TNetMimeTableTest, ConcurrentLookupsAndReloads) {
    TNetMimeTable table("/nonexistent/mime.types");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&table, t] {
            for (int i = 0; i < 200; ++i)
                EXPECT_FALSE(table.MimeTypeOf(t % 2 ? "a.gif" : "a.zzz").empty());
        });
    }
    for (auto& th : threads)
        th.join();
}
