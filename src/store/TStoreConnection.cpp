#include "store/TStoreConnection.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>

#include <libpq-fe.h>

#include "logging/LogText.h"

namespace {

// The first line of a libpq text, bounded, for Messages: later lines may quote the rows of a
// batch, which are visitors' data.
std::string OneLine(const char* AText) {
    std::string_view text = AText ? AText : "";
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    return LogField(text, TLogEscape::Text, 512);
}

// Notices ("relation ... already exists, skipping") are not for anyone.
void IgnoreNotice(void*, const char*) {}

int MillisecondsUntil(TStoreDeadline ADeadline) {
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(ADeadline - steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

} // namespace

TStoreConnection::~TStoreConnection() {
    Close();
}

bool TStoreConnection::Open(const std::string& AConnection, TStoreDeadline ADeadline) {
    Close();
    FError.clear();
    FErrorState.clear();
    // The settings' text is expanded as a whole connection string; our names only fill gaps.
    const char* const keywords[] = {"dbname", "fallback_application_name", "client_encoding",
                                    nullptr};
    const char* const values[] = {AConnection.c_str(), "sk_kav", "UTF8", nullptr};
    FConn = PQconnectStartParams(keywords, values, 1);
    if (!FConn)
        return Broken("out of memory");
    if (PQstatus(FConn) == CONNECTION_BAD)
        return Broken(OneLine(PQerrorMessage(FConn)));
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
        if (state == PGRES_POLLING_OK)
            break;
        if (state == PGRES_POLLING_FAILED)
            return Broken(OneLine(PQerrorMessage(FConn)));
        if (!WaitSocket(state == PGRES_POLLING_WRITING, ADeadline))
            return Broken("no answer from the database in time");
        state = PQconnectPoll(FConn);
    }
    if (PQsetnonblocking(FConn, 1) != 0)
        return Broken(OneLine(PQerrorMessage(FConn)));
    PQsetNoticeProcessor(FConn, &IgnoreNotice, nullptr);
    return true;
}

void TStoreConnection::Close() {
    if (FConn)
        PQfinish(FConn);
    FConn = nullptr;
}

bool TStoreConnection::Broken(const std::string& AWhat) {
    FError = AWhat;
    FErrorState.clear();
    Close();
    return false;
}

int TStoreConnection::Poll(pollfd& AEntry, TStoreDeadline ADeadline) {
    using std::chrono::steady_clock;
    for (;;) {
        TStoreDeadline until = ADeadline;
        if (FWhileWaiting) {
            if (steady_clock::now() >= FHookDue) {
                FWhileWaiting();
                FHookDue = steady_clock::now() + FHookEvery;
            }
            until = std::min(until, FHookDue);
        }
        const int ready = ::poll(&AEntry, 1, MillisecondsUntil(until));
        if (ready != 0 || steady_clock::now() >= ADeadline)
            return ready;
    }
}

bool TStoreConnection::WaitSocket(bool AWrite, TStoreDeadline ADeadline) {
    pollfd entry{PQsocket(FConn), static_cast<short>(AWrite ? POLLOUT : POLLIN), 0};
    if (entry.fd < 0)
        return false;
    for (;;) {
        const int ready = Poll(entry, ADeadline);
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Non-blocking sends may leave bytes in libpq's buffer; the server may need to be read from
// before it takes more.
bool TStoreConnection::Flush(TStoreDeadline ADeadline) {
    for (;;) {
        const int left = PQflush(FConn);
        if (left == 0)
            return true;
        if (left < 0)
            return Broken(OneLine(PQerrorMessage(FConn)));
        pollfd entry{PQsocket(FConn), POLLIN | POLLOUT, 0};
        const int ready = Poll(entry, ADeadline);
        if (ready == 0)
            return Broken("the database took no data in time");
        if (ready > 0 && (entry.revents & POLLIN) && PQconsumeInput(FConn) == 0)
            return Broken(OneLine(PQerrorMessage(FConn)));
    }
}

bool TStoreConnection::CollectResults(TStoreDeadline ADeadline, TStoreRows* ARows, bool ACopy) {
    bool failed = false;
    for (;;) {
        while (PQisBusy(FConn)) {
            if (!WaitSocket(false, ADeadline))
                return Broken("no answer from the database in time");
            if (PQconsumeInput(FConn) == 0)
                return Broken(OneLine(PQerrorMessage(FConn)));
        }
        PGresult* result = PQgetResult(FConn);
        if (!result)
            break;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COPY_IN && ACopy) {
            PQclear(result);
            return true;
        }
        if (status == PGRES_TUPLES_OK && ARows) {
            ARows->clear();
            for (int row = 0; row < PQntuples(result); ++row) {
                auto& fields = ARows->emplace_back();
                for (int column = 0; column < PQnfields(result); ++column)
                    if (PQgetisnull(result, row, column))
                        fields.emplace_back();
                    else
                        fields.emplace_back(PQgetvalue(result, row, column));
            }
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !failed) {
            failed = true;
            FError = OneLine(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
            const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            FErrorState = state ? state : "";
        }
        PQclear(result);
        if (PQstatus(FConn) == CONNECTION_BAD)
            return Broken(FError.empty() ? OneLine(PQerrorMessage(FConn)) : FError);
    }
    if (ACopy && !failed) {
        FError = "the database did not start the copy";
        failed = true;
    }
    return !failed;
}

bool TStoreConnection::Exec(std::string_view ASql, std::initializer_list<std::string_view> AParams,
                            TStoreDeadline ADeadline, TStoreRows* ARows) {
    if (!FConn)
        return Broken("not connected");
    FError.clear();
    FErrorState.clear();
    const std::string sql(ASql);
    int sent = 0;
    if (AParams.size() == 0) {
        sent = PQsendQuery(FConn, sql.c_str());
    } else {
        std::vector<std::string> texts(AParams.begin(), AParams.end());
        std::vector<const char*> values;
        for (const std::string& text : texts)
            values.push_back(text.c_str());
        sent = PQsendQueryParams(FConn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                 values.data(), nullptr, nullptr, 0);
    }
    if (!sent)
        return Broken(OneLine(PQerrorMessage(FConn)));
    return Flush(ADeadline) && CollectResults(ADeadline, ARows, false);
}

void TStoreConnection::RollBack(TStoreDeadline ADeadline) {
    if (!FConn || PQtransactionStatus(FConn) == PQTRANS_IDLE)
        return;
    std::string error = std::move(FError), state = std::move(FErrorState);
    (void)Exec("ROLLBACK", ADeadline);
    FError = std::move(error);
    FErrorState = std::move(state);
}

bool TStoreConnection::SendCopyData(std::string_view AData, TStoreDeadline ADeadline) {
    constexpr std::size_t Piece = 1 << 20;
    for (std::size_t at = 0; at < AData.size();) {
        const std::size_t length = std::min(Piece, AData.size() - at);
        const int put = PQputCopyData(FConn, AData.data() + at, static_cast<int>(length));
        if (put < 0)
            return Broken(OneLine(PQerrorMessage(FConn)));
        if (put == 0 && !Flush(ADeadline))
            return false;
        if (put > 0)
            at += length;
    }
    for (;;) {
        const int ended = PQputCopyEnd(FConn, nullptr);
        if (ended < 0)
            return Broken(OneLine(PQerrorMessage(FConn)));
        if (!Flush(ADeadline))
            return false;
        if (ended > 0)
            return true;
    }
}

bool TStoreConnection::CopyIn(std::string_view ACopy, std::string_view AData,
                              TStoreDeadline ADeadline) {
    if (!FConn)
        return Broken("not connected");
    FError.clear();
    FErrorState.clear();
    if (!PQsendQuery(FConn, std::string(ACopy).c_str()))
        return Broken(OneLine(PQerrorMessage(FConn)));
    return Flush(ADeadline) && CollectResults(ADeadline, nullptr, true) &&
           SendCopyData(AData, ADeadline) && CollectResults(ADeadline, nullptr, false);
}

std::string TStoreConnection::ServerEncoding() const {
    const char* encoding = FConn ? PQparameterStatus(FConn, "server_encoding") : nullptr;
    return encoding ? encoding : "";
}

bool TStoreConnection::NamesPassword(const std::string& AConnection) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(AConnection.c_str(), &error);
    PQfreemem(error);
    bool named = false;
    for (PQconninfoOption* option = options; option && option->keyword; ++option)
        named = named ||
                (std::string_view(option->keyword) == "password" && option->val && *option->val);
    PQconninfoFree(options);
    return named;
}
