#include "store/StoreSchema.h"

#include <chrono>
#include <cstdio>

#include "tracking/THitRecord.h"

namespace {

// Held while the schema or a partition is made, so instances that start together take turns.
constexpr std::string_view LockKey = "7305594016862998870";

constexpr std::string_view CreateTables = R"(
CREATE TABLE IF NOT EXISTS skav_schema (
    version integer NOT NULL,
    made timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS skav_hits (
    time timestamptz NOT NULL,
    utc_offset smallint NOT NULL,
    instance text NOT NULL,
    start_id bigint NOT NULL,
    seq bigint NOT NULL,
    address text,
    visitor text,
    port integer NOT NULL,
    host text,
    nickname text NOT NULL,
    method text NOT NULL,
    document text NOT NULL,
    query text NOT NULL,
    params json NOT NULL,
    status integer NOT NULL,
    size bigint NOT NULL,
    referer text NOT NULL,
    user_agent text NOT NULL,
    tls text,
    proxy text NOT NULL,
    pageview boolean NOT NULL,
    bot boolean NOT NULL,
    page text NOT NULL,
    source text NOT NULL,
    browser text NOT NULL,
    PRIMARY KEY (instance, time, start_id, seq)
) PARTITION BY RANGE (time);
CREATE INDEX IF NOT EXISTS skav_hits_time ON skav_hits (time);
)";

bool Lock(TStoreConnection& AConnection, TStoreDeadline ADeadline) {
    return AConnection.Exec("BEGIN; SELECT pg_advisory_xact_lock(" + std::string(LockKey) + ")",
                            ADeadline);
}

// Version found, 0 when there is no version table or no version in it; -1 on failure.
int FoundVersion(TStoreConnection& AConnection, TStoreDeadline ADeadline) {
    TStoreRows rows;
    if (!AConnection.Exec("SELECT to_regclass('skav_schema') IS NOT NULL", ADeadline, &rows))
        return -1;
    if (rows.at(0).at(0) != "t")
        return 0;
    if (!AConnection.Exec("SELECT coalesce(max(version), 0) FROM skav_schema", ADeadline, &rows))
        return -1;
    return std::stoi(rows.at(0).at(0).value_or("0"));
}

void AppendCopyText(std::string& AOut, std::string_view AText) {
    for (char c : AText) {
        switch (c) {
        case '\\':
            AOut += "\\\\";
            break;
        case '\t':
            AOut += "\\t";
            break;
        case '\n':
            AOut += "\\n";
            break;
        case '\r':
            AOut += "\\r";
            break;
        case '\0':
            AOut += "\xEF\xBF\xBD";
            break;
        default:
            AOut += c;
        }
    }
}

// Appends the fields of one row, each after a tab but the first.
class TRowWriter {
public:
    explicit TRowWriter(std::string& AOut) : FOut(AOut) {}

    void Text(std::string_view AText, std::size_t ALimit = LogFieldLimit) {
        Next();
        AppendCopyText(FOut, HitText(AText, ALimit));
    }
    void Optional(const std::optional<std::string>& AText) {
        if (AText)
            Text(*AText);
        else
            Raw("\\N");
    }
    void Raw(std::string_view AText) {
        Next();
        FOut += AText;
    }
    void Number(long long AValue) { Raw(std::to_string(AValue)); }
    void Flag(bool AValue) { Raw(AValue ? "t" : "f"); }

private:
    void Next() {
        if (FStarted)
            FOut += '\t';
        FStarted = true;
    }

    std::string& FOut;
    bool FStarted = false;
};

} // namespace

TSchemaCheck EnsureStoreSchema(TStoreConnection& AConnection, TStoreDeadline ADeadline) {
    TSchemaCheck check;
    const int found = Lock(AConnection, ADeadline) ? FoundVersion(AConnection, ADeadline) : -1;
    check.Version = found;
    if (found > StoreSchemaVersion) {
        AConnection.RollBack(ADeadline);
        check.Text = "schema version " + std::to_string(found) + " is newer than this program's (" +
                     std::to_string(StoreSchemaVersion) + ")";
        return check;
    }
    if (found == 0 && (!AConnection.Exec(CreateTables, ADeadline) ||
                       !AConnection.Exec("INSERT INTO skav_schema (version) VALUES ($1)",
                                         {std::to_string(StoreSchemaVersion)}, ADeadline)))
        check.Version = -1;
    if (check.Version < 0 || !AConnection.Exec("COMMIT", ADeadline)) {
        AConnection.RollBack(ADeadline);
        check.Version = 0;
        check.Text = "the schema cannot be made: " + AConnection.Error();
        return check;
    }
    check.Usable = true;
    check.Text =
        "schema version " + std::to_string(StoreSchemaVersion) + (found == 0 ? " made" : " found");
    return check;
}

namespace {

// "CREATE TABLE IF NOT EXISTS" of the partition of ADay.
std::string PartitionSql(std::chrono::sys_days ADay) {
    using namespace std::chrono;
    const year_month_day day{ADay}, next{ADay + days(1)};
    char sql[400];
    std::snprintf(sql, sizeof sql,
                  "CREATE TABLE IF NOT EXISTS skav_hits_%04d%02u%02u PARTITION OF skav_hits "
                  "FOR VALUES FROM ('%04d-%02u-%02u 00:00:00+00') TO ('%04d-%02u-%02u "
                  "00:00:00+00');",
                  static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()), static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()),
                  static_cast<int>(next.year()), static_cast<unsigned>(next.month()),
                  static_cast<unsigned>(next.day()));
    return sql;
}

} // namespace

bool EnsureStorePartition(TStoreConnection& AConnection, std::string_view AUtcDay,
                          TStoreDeadline ADeadline) {
    using namespace std::chrono;
    int year = 0;
    unsigned month = 0, day = 0;
    char end = 0;
    if (AUtcDay.size() != 10 ||
        std::sscanf(std::string(AUtcDay).c_str(), "%4d-%2u-%2u%c", &year, &month, &day, &end) != 3)
        return false;
    const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                              std::chrono::day(day)};
    if (!date.ok())
        return false;
    // The next day's as well: at midnight its first rows find it made, even while a long
    // query holds the table and would keep a new partition waiting.
    if (Lock(AConnection, ADeadline) &&
        AConnection.Exec(PartitionSql(sys_days(date)) + PartitionSql(sys_days(date) + days(1)),
                         ADeadline) &&
        AConnection.Exec("COMMIT", ADeadline))
        return true;
    AConnection.RollBack(ADeadline);
    return false;
}

bool MakeStoreIncomingTable(TStoreConnection& AConnection, TStoreDeadline ADeadline) {
    return AConnection.Exec("CREATE TEMP TABLE IF NOT EXISTS skav_incoming (LIKE skav_hits) "
                            "ON COMMIT DELETE ROWS",
                            ADeadline);
}

bool InsertStoreRows(TStoreConnection& AConnection, std::string_view ARows,
                     TStoreDeadline ADeadline) {
    // One COPY is one transaction: all rows or none.
    if (AConnection.CopyIn("COPY skav_hits FROM STDIN", ARows, ADeadline))
        return true;
    if (!AConnection.IsOpen() || AConnection.ErrorState() != "23505")
        return false;
    // Some of the rows are in already (a batch sent again): the others go in apart.
    if (AConnection.Exec("BEGIN", ADeadline) &&
        AConnection.CopyIn("COPY skav_incoming FROM STDIN", ARows, ADeadline) &&
        AConnection.Exec("INSERT INTO skav_hits SELECT * FROM skav_incoming "
                         "ON CONFLICT DO NOTHING; COMMIT",
                         ADeadline))
        return true;
    AConnection.RollBack(ADeadline);
    return false;
}

void AppendStoreRow(std::string& AOut, const THitRecord& AHit, std::int64_t AStartId,
                    std::int64_t ASequence) {
    TRowWriter row(AOut);
    row.Raw(HitTimeText(AHit.TimeMs, 0));
    row.Number(AHit.UtcOffsetMinutes);
    row.Text(AHit.Instance);
    row.Number(AStartId);
    row.Number(ASequence);
    row.Optional(AHit.Address);
    row.Optional(AHit.Visitor);
    row.Number(AHit.Port);
    row.Optional(AHit.Host);
    row.Text(AHit.NickName);
    row.Text(AHit.Method);
    row.Text(AHit.Document);
    row.Text(AHit.Query, HitQueryLimit);
    std::string params;
    AppendCopyText(params, ParamsJsonOf(AHit));
    row.Raw(params);
    row.Number(AHit.Status);
    row.Number(AHit.Size);
    row.Text(AHit.Referer);
    row.Text(AHit.UserAgent);
    row.Optional(AHit.TLS);
    row.Text(AHit.Proxy);
    row.Flag(AHit.PageView);
    row.Flag(AHit.Bot);
    row.Text(AHit.Page);
    row.Text(AHit.Source);
    row.Text(AHit.Browser);
    AOut += '\n';
}

std::string_view StoreRowDay(std::string_view ARow) {
    return ARow.substr(0, 10);
}
