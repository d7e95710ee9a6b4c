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
    EXPECT_EQ(TNetMimeTable().MimeTypeOf("1x1.GIF"), "image/gif"); // the system file
}

// Without the system file the built-in table answers; misses reload the maps while other
// threads look up, and TSan checks the guard.
TEST(TNetMimeTableTest, BuiltInAnswersUnderConcurrentReloads) {
    TNetMimeTable table("/nonexistent/mime.types");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&table, t] {
            for (int i = 0; i < 200; ++i)
                EXPECT_EQ(table.MimeTypeOf(t % 2 ? "a.GIF" : "a.zzz"),
                          t % 2 ? "image/gif" : "application/octet-stream");
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(table.MimeTypeOf("index.htm"), "text/html");
}
