// The shared store's tables and the rows that go into them: the schema made when missing, a
// partition per day made as days come, and a hit as one line of COPY's text format.
// Pure functions and calls on a connection of the caller's; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/TStoreConnection.h"

struct THitRecord;

// The version this program writes and reads. A database of a newer one is left alone.
inline constexpr int StoreSchemaVersion = 1;

struct TSchemaCheck {
    bool Usable = false;
    int Version = 0;  // what the database had (0: nothing, made now)
    std::string Text; // "schema version 1 found", "... made", or why it cannot be used
};

// Makes the version table, the hits table and its indexes when they are missing, under a lock
// that other instances starting at the same moment wait for, and says what it found.
TSchemaCheck EnsureStoreSchema(TStoreConnection& AConnection, TStoreDeadline ADeadline);

// The partitions of the UTC day AUtcDay ("2026-12-08") and the day after, made when missing.
// False for a text that is no day, or with the connection's error.
bool EnsureStorePartition(TStoreConnection& AConnection, std::string_view AUtcDay,
                          TStoreDeadline ADeadline);

// A temporary table like the hits table, emptied at each commit, for batches sent again.
bool MakeStoreIncomingTable(TStoreConnection& AConnection, TStoreDeadline ADeadline);
// Writes one batch (COPY lines) into the hits table in one transaction: with one COPY, or,
// when some of its rows are in already (the key says so), through the temporary table and
// INSERT ... ON CONFLICT DO NOTHING, so a row sent twice is written once.
bool InsertStoreRows(TStoreConnection& AConnection, std::string_view ARows,
                     TStoreDeadline ADeadline);

// Appends the hit as one COPY line (ending in "\n"): the instant in UTC, the local zone's
// offset, the instance, AStartId and ASequence (the row's key with the instance), then the
// fields of its JSON line with the same texts. A NUL character, which PostgreSQL's texts
// cannot hold, becomes U+FFFD.
void AppendStoreRow(std::string& AOut, const THitRecord& AHit, std::int64_t AStartId,
                    std::int64_t ASequence);
// The UTC day of such a line ("2026-12-08"): its first ten bytes.
std::string_view StoreRowDay(std::string_view ARow);
