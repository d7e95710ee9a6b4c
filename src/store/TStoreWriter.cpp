#include "store/TStoreWriter.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include "store/StoreSchema.h"
#include "store/TStoreConnection.h"
#include "store/TStoreSpool.h"

namespace {

using TClock = std::chrono::steady_clock;

// How long one round replays the spool before it takes the new hits again.
constexpr std::chrono::milliseconds ReplaySlice{250};
// How often the hits are taken while the database keeps a call waiting.
constexpr std::chrono::milliseconds WaitSlice{100};

struct TBatch {
    std::string Rows;
    std::size_t Count = 0;
};

std::size_t ApproxBytes(const THitRecord& AHit) {
    std::size_t bytes = sizeof AHit + AHit.Instance.size() + AHit.NickName.size() +
                        AHit.Method.size() + AHit.Document.size() + AHit.Query.size() +
                        AHit.Referer.size() + AHit.UserAgent.size() + AHit.Proxy.size() +
                        AHit.Page.size() + AHit.Source.size() + AHit.Browser.size();
    for (const auto* text : {&AHit.Address, &AHit.Visitor, &AHit.Host, &AHit.TLS})
        bytes += text->has_value() ? (*text)->size() : 0;
    for (const auto& [name, value] : AHit.Params)
        bytes += sizeof name + name.size() + sizeof value + value.size();
    return bytes;
}

std::int64_t RandomStartId() {
    std::random_device device;
    const std::uint64_t id = (std::uint64_t{device()} << 32) ^ device();
    return static_cast<std::int64_t>(id >> 1); // a positive bigint
}

} // namespace

// What only the writer thread touches.
struct TStoreWriter::TState {
    explicit TState(TStoreWriter& AWriter)
        : Writer(AWriter), Options(AWriter.FOptions),
          Spool(AWriter.FOptions.SpoolDir, AWriter.FOptions.MaxSpoolBytes),
          RetryDelay(AWriter.FOptions.FirstRetryDelay) {}

    TStoreWriter& Writer;
    const TStoreWriterOptions& Options;
    TStoreConnection Connection;
    TStoreSpool Spool;
    std::vector<TBatch> Pending;             // made, not yet in the database or the spool
    std::vector<TBatch> Arrived;             // made while a call waited, after Pending
    std::set<std::string, std::less<>> Days; // partitions known on this connection
    std::int64_t NextSequence = 1;
    TClock::time_point RetryAt{};
    std::chrono::milliseconds RetryDelay;
    bool Outage = false;    // told; the next connection says the database is back
    bool Connected = false; // once, for the first Messages line
    std::uint64_t Replayed = 0;
    TClock::time_point ReportAt = TClock::now() + Options.ReportInterval;
    std::uint64_t Dropped = 0; // since the last report, besides the queue's
    std::string DropReason;

    void Message(const std::string& AText) {
        if (Options.OnMessage)
            Options.OnMessage("Store: " + AText);
    }

    void Start() {
        if (TStoreConnection::NamesPassword(Options.Connection)) {
            Lost("the connection names a password; libpq's password file or PGPASSWORD "
                 "must hold it");
            RetryAt = TClock::time_point::max(); // the settings must change first
        }
        std::string error;
        if (!Spool.Open(error))
            Message("no spool, hits that cannot be sent are not delivered: " + error);
        else if (!Spool.Empty())
            Message(std::to_string(Spool.Bytes()) + " bytes in the spool " + Spool.Dir() +
                    " wait for the database");
        Writer.FSpoolBytes = Spool.Bytes();
        Connection.SetWaitHook([this] { TakeWhileWaiting(); }, WaitSlice);
        // At once, not with the first batch: the Messages list tells the schema version (or
        // why there is no store) when the server starts, and a stop soon after sends.
        if (TClock::now() >= RetryAt)
            Connect();
    }

    void Encode(std::deque<THitRecord>& AHits, std::vector<TBatch>& AInto) {
        for (const THitRecord& hit : AHits) {
            if (AInto.empty() || AInto.back().Count >= Options.BatchRows)
                AInto.emplace_back();
            AppendStoreRow(AInto.back().Rows, hit, Writer.FStartId, NextSequence++);
            ++AInto.back().Count;
        }
        AHits.clear();
    }

    void TakeArrived() {
        std::move(Arrived.begin(), Arrived.end(), std::back_inserter(Pending));
        Arrived.clear();
    }

    // The hits taken from the queue, behind those made before.
    void Encode(std::deque<THitRecord>& AHits) {
        TakeArrived();
        Encode(AHits, Pending);
        CountHeld();
    }

    // While the database keeps a call waiting (up to DatabaseTimeout), the hits that come
    // meanwhile are taken and made into rows as well: held as the queue's many small texts,
    // a few seconds of them would make the process grow by tens of megabytes and shrink
    // again after each wait, at the cost of every peer thread that allocates meanwhile.
    void TakeWhileWaiting() {
        std::deque<THitRecord> taken;
        {
            std::lock_guard<std::mutex> guard(Writer.FLock);
            taken.swap(Writer.FQueue);
            Writer.FQueueBytes = 0;
        }
        Encode(taken, Arrived);
        CountHeld();
    }

    // The rows made and not yet sent or spooled count against the queue's bound.
    void CountHeld() {
        std::size_t bytes = 0;
        for (const auto* batches : {&Pending, &Arrived})
            for (const TBatch& batch : *batches)
                bytes += batch.Rows.size();
        Writer.FHeldBytes.store(bytes, std::memory_order_relaxed);
    }

    // When the writer thread should look again without being woken.
    TClock::time_point WakeAt() const {
        const TClock::time_point now = TClock::now();
        if (Connection.IsOpen() && !Spool.Empty())
            return now;
        TClock::time_point at = std::min(now + std::chrono::seconds(1), ReportAt);
        if (!Connection.IsOpen() && (!Spool.Empty() || !Pending.empty()))
            at = std::min(at, RetryAt);
        return at;
    }

    void Deliver() {
        if (!Connection.IsOpen() && TClock::now() >= RetryAt)
            Connect();
        if (Connection.IsOpen() && Spool.Empty())
            SendPending(TClock::time_point::max());
        SpoolPending();
        if (Connection.IsOpen())
            Replay(TClock::now() + ReplaySlice);
        CountHeld();
    }

    void Finish() {
        if (Connection.IsOpen() && Spool.Empty())
            SendPending(TClock::now() + Options.DatabaseTimeout);
        TakeArrived();
        SpoolPending();
        CountHeld();
        ReportAt = TClock::now();
        Report();
        Connection.Close();
    }

    void Connect() {
        const TStoreDeadline deadline = TClock::now() + Options.DatabaseTimeout;
        if (!Connection.Open(Options.Connection, deadline))
            return Lost(Connection.Error());
        const std::string encoding = Connection.ServerEncoding();
        if (encoding != "UTF8" && encoding != "SQL_ASCII")
            return Lost("the database's encoding is " + encoding + ", not UTF8");
        const TSchemaCheck schema = EnsureStoreSchema(Connection, deadline);
        if (!schema.Usable)
            return Lost(schema.Text);
        if (!MakeStoreIncomingTable(Connection, deadline))
            return Lost(Connection.Error());
        Days.clear();
        RetryDelay = Options.FirstRetryDelay;
        Writer.FConnected = true;
        if (!Connected)
            Message("connected, " + schema.Text);
        else if (Outage)
            Message("the database takes rows again" +
                    (Spool.Empty()
                         ? std::string()
                         : ", " + std::to_string(Spool.Bytes()) + " bytes of the spool go first"));
        Connected = true;
        Outage = false;
    }

    void Lost(const std::string& AReason) {
        Connection.Close();
        Writer.FConnected = false;
        RetryAt = TClock::now() + RetryDelay;
        RetryDelay = std::min(RetryDelay * 2, Options.LastRetryDelay);
        if (Outage)
            return;
        Outage = true;
        Message("the database cannot take rows (" + AReason + "); hits wait in the spool " +
                Spool.Dir());
    }

    void Drop(std::size_t ACount, const std::string& AReason) {
        Dropped += ACount;
        Writer.FNotDelivered += ACount;
        DropReason = AReason;
    }

    // False when the connection was lost or the database refused; a line that names no day
    // is left for the copy to refuse as data.
    bool MakePartitions(std::string_view ARows, TStoreDeadline ADeadline) {
        std::string_view last;
        for (std::size_t at = 0; at < ARows.size();) {
            const std::string_view day = StoreRowDay(ARows.substr(at));
            const std::size_t end = ARows.find('\n', at);
            at = end == ARows.npos ? ARows.size() : end + 1;
            if (day == last || Days.contains(day))
                continue;
            last = day;
            if (EnsureStorePartition(Connection, day, ADeadline))
                Days.emplace(day);
            else if (!Connection.IsOpen() || !Connection.Error().empty())
                return false;
        }
        return true;
    }

    // True when the batch is done with: in the database, or refused as data (counted).
    bool Send(const std::string& ARows, std::size_t ACount, TClock::time_point ALatest) {
        const TStoreDeadline deadline = std::min(ALatest, TClock::now() + Options.DatabaseTimeout);
        if (MakePartitions(ARows, deadline) && InsertStoreRows(Connection, ARows, deadline)) {
            Writer.FDelivered += ACount;
            return true;
        }
        // Class 22 is data the database will never take: replaying it would stop every row
        // behind it. The log files keep those hits.
        if (Connection.IsOpen() && Connection.ErrorState().starts_with("22")) {
            Drop(ACount, "the database refused them: " + Connection.Error());
            return true;
        }
        Lost(Connection.Error());
        return false;
    }

    void SendPending(TClock::time_point ALatest) {
        std::size_t sent = 0;
        while (sent < Pending.size() && Connection.IsOpen() &&
               Send(Pending[sent].Rows, Pending[sent].Count, ALatest))
            ++sent;
        Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(sent));
    }

    void SpoolPending() {
        for (const TBatch& batch : Pending) {
            const TStoreSpool::TAppend result = Spool.Append(batch.Rows);
            if (result == TStoreSpool::TAppend::Written)
                Writer.FSpooled += batch.Count;
            else if (result == TStoreSpool::TAppend::Full)
                Drop(batch.Count,
                     "the spool is full at " + std::to_string(Spool.Bytes()) + " bytes");
            else
                Drop(batch.Count,
                     Spool.IsOpen() ? "the spool cannot be written" : "there is no spool");
        }
        Pending.clear();
        Writer.FSpoolBytes = Spool.Bytes();
    }

    void Replay(TClock::time_point AUntil) {
        std::string rows, error;
        std::size_t count = 0;
        while (Connection.IsOpen() && !Spool.Empty() && TClock::now() < AUntil) {
            if (!Spool.Peek(Options.BatchRows, rows, count, error)) {
                Message(error);
                break;
            }
            if (count == 0 || !Send(rows, count, TClock::time_point::max()))
                break;
            Spool.Consumed();
            Replayed += count;
        }
        Writer.FSpoolBytes = Spool.Bytes();
        if (Spool.Empty() && Replayed > 0) {
            Message("the spool is replayed: " + std::to_string(Replayed) + " rows");
            Replayed = 0;
        }
    }

    void Report() {
        if (TClock::now() < ReportAt)
            return;
        ReportAt = TClock::now() + Options.ReportInterval;
        const std::uint64_t queued = Writer.FQueueDropped.exchange(0);
        if (queued + Dropped == 0)
            return;
        std::string why;
        if (queued > 0)
            why = std::to_string(queued) + " with the queue full";
        if (Dropped > 0)
            why += (why.empty() ? "" : ", ") + std::to_string(Dropped) + " as " + DropReason;
        const std::uint64_t count = queued + Dropped;
        Message(std::to_string(count) + (count == 1 ? " hit" : " hits") + " not delivered (" + why +
                "); the log files hold them");
        Dropped = 0;
    }
};

TStoreWriter::TStoreWriter(TStoreWriterOptions AOptions)
    : FOptions(std::move(AOptions)), FStartId(RandomStartId()),
      FState(std::make_unique<TState>(*this)) {
    FThread = std::thread([this] { Run(); });
}

TStoreWriter::~TStoreWriter() {
    Stop();
}

void TStoreWriter::Enqueue(THitRecord AHit) {
    const std::size_t bytes = ApproxBytes(AHit);
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (FStopping || FQueueBytes + FHeldBytes.load(std::memory_order_relaxed) + bytes >
                             FOptions.MaxQueueBytes) {
            ++FQueueDropped;
            ++FNotDelivered;
            return;
        }
        if (FQueue.empty())
            FFirstQueued = std::chrono::steady_clock::now();
        FQueue.push_back(std::move(AHit));
        FQueueBytes += bytes;
        wake = FQueue.size() == FOptions.BatchRows;
    }
    if (wake)
        FWake.notify_one();
}

TStoreStatus TStoreWriter::Status() const {
    TStoreStatus status;
    status.Connected = FConnected;
    status.Delivered = FDelivered;
    status.Spooled = FSpooled;
    status.SpoolBytes = FSpoolBytes;
    status.NotDelivered = FNotDelivered;
    return status;
}

void TStoreWriter::Stop() {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FWake.notify_one();
    if (FThread.joinable())
        FThread.join();
}

void TStoreWriter::Run() {
    TState& state = *FState;
    try {
        state.Start();
        std::deque<THitRecord> taken;
        for (bool stopping = false; !stopping;) {
            {
                std::unique_lock<std::mutex> lock(FLock);
                FWake.wait_until(lock, state.WakeAt(),
                                 [&] { return FStopping || FQueue.size() >= FOptions.BatchRows; });
                stopping = FStopping;
                const bool due = !FQueue.empty() && std::chrono::steady_clock::now() >=
                                                        FFirstQueued + FOptions.BatchDelay;
                if (stopping || due || FQueue.size() >= FOptions.BatchRows ||
                    !state.Spool.Empty()) {
                    taken.swap(FQueue);
                    FQueueBytes = 0;
                }
            }
            state.Encode(taken);
            if (stopping)
                state.Finish();
            else
                state.Deliver();
            state.Report();
        }
    } catch (const std::exception& error) {
        state.Message(std::string("the writer stopped: ") + error.what());
    } catch (...) {
        state.Message("the writer stopped");
    }
}

std::unique_ptr<IHitStore> MakeStoreWriter(THitStoreSettings ASettings) {
    TStoreWriterOptions options;
    options.Connection = std::move(ASettings.Connection);
    options.SpoolDir = std::move(ASettings.SpoolDir);
    options.MaxSpoolBytes = ASettings.MaxSpoolBytes;
    options.OnMessage = std::move(ASettings.OnMessage);
    return std::make_unique<TStoreWriter>(std::move(options));
}
