// The spool on its own: rows come back in order across runs, a half row that a killed run left
// is dropped without spoiling the rows after it, the bound holds, and replayed files go.
#include "store/TStoreSpool.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

// Every row the spool gives back, AMaxRows at a time, each batch marked as in the database.
std::string Replay(TStoreSpool& ASpool, std::size_t AMaxRows) {
    std::string all, rows, error;
    std::size_t count = 0;
    while (!ASpool.Empty()) {
        EXPECT_TRUE(ASpool.Peek(AMaxRows, rows, count, error)) << error;
        EXPECT_LE(count, AMaxRows);
        if (count == 0)
            break;
        all += rows;
        ASpool.Consumed();
    }
    return all;
}

std::size_t FileCount(const std::string& ADir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(ADir),
                                                  std::filesystem::directory_iterator()));
}

TEST(StoreSpoolTest, RowsComeBackInOrderAcrossRunsAndAKilledRunsHalfRowIsDropped) {
    TempDir dir;
    const std::string path = dir.Path() + "spool";
    std::string error;
    {
        TStoreSpool spool(path, 1 << 20);
        ASSERT_TRUE(spool.Open(error)) << error;
        EXPECT_EQ(spool.Append("1\n2\n"), TStoreSpool::TAppend::Written);
        EXPECT_EQ(spool.Append("3\n"), TStoreSpool::TAppend::Written);
        // Another process cannot take it meanwhile.
        TStoreSpool second(path, 1 << 20);
        EXPECT_FALSE(second.Open(error));
        EXPECT_NE(error.find("in use by another process"), std::string::npos);
    }
    // A run killed in the middle of a row.
    dir.WriteFile("spool/0000000000000002.rows", "4\n5\nhalf a r");
    TStoreSpool spool(path, 1 << 20);
    ASSERT_TRUE(spool.Open(error)) << error;
    EXPECT_EQ(spool.Bytes(), 6u + 12u);
    EXPECT_EQ(spool.Append("6\n"), TStoreSpool::TAppend::Written); // not after the half row
    EXPECT_EQ(Replay(spool, 2), "1\n2\n3\n4\n5\n6\n");
    EXPECT_TRUE(spool.Empty());
    EXPECT_EQ(spool.Bytes(), 0u);
    EXPECT_EQ(FileCount(path), 1u); // the lock file only

    // Rows added while the oldest file is being replayed come after it.
    EXPECT_EQ(spool.Append("7\n8\n"), TStoreSpool::TAppend::Written);
    std::string rows;
    std::size_t count = 0;
    ASSERT_TRUE(spool.Peek(1, rows, count, error));
    EXPECT_EQ(rows, "7\n");
    spool.Consumed();
    EXPECT_EQ(spool.Append("9\n"), TStoreSpool::TAppend::Written);
    EXPECT_EQ(Replay(spool, 10), "8\n9\n");
}

TEST(StoreSpoolTest, TheBoundHoldsAndALongRowIsReadWhole) {
    TempDir dir;
    std::string error;
    TStoreSpool spool(dir.Path() + "spool", 10);
    ASSERT_TRUE(spool.Open(error)) << error;
    EXPECT_EQ(spool.Append("12345\n"), TStoreSpool::TAppend::Written);
    EXPECT_EQ(spool.Append("1234\n"), TStoreSpool::TAppend::Full);
    EXPECT_EQ(spool.Append("123\n"), TStoreSpool::TAppend::Written);
    EXPECT_EQ(spool.Bytes(), 10u);
    EXPECT_EQ(Replay(spool, 5), "12345\n123\n");

    TStoreSpool big(dir.Path() + "big", 1 << 24);
    ASSERT_TRUE(big.Open(error)) << error;
    const std::string row = std::string(3 << 20, 'r') + "\n"; // longer than one read
    EXPECT_EQ(big.Append(row + "s\n"), TStoreSpool::TAppend::Written);
    EXPECT_EQ(Replay(big, 1), row + "s\n");
}

} // namespace
