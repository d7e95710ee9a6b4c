#include "dashboard/TDashboardSessions.h"

#include <algorithm>

#include "tls/Crypto.h"

namespace {

constexpr std::size_t SecretBytes = 32;

} // namespace

TDashboardSessions::TDashboardSessions(TClock AClock)
    : FClock(std::move(AClock)), FKey(RandomBytes(SecretBytes)) {}

TDashboardSessions::TTime TDashboardSessions::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

std::string TDashboardSessions::KeyOf(std::string_view AId) const {
    return HmacSha256(FKey, AId);
}

bool TDashboardSessions::Expired(const TEntry& AEntry, TTime ANow) const {
    const auto idle =
        AEntry.Session.SignedIn
            ? std::chrono::duration_cast<std::chrono::steady_clock::duration>(SignedInIdle)
            : std::chrono::duration_cast<std::chrono::steady_clock::duration>(PendingIdle);
    return ANow - AEntry.LastUsed >= idle;
}

void TDashboardSessions::MakeRoom(bool ASignedIn, TTime ANow) {
    std::erase_if(FSessions, [&](const auto& AItem) { return Expired(AItem.second, ANow); });
    const std::size_t limit = ASignedIn ? MaxSignedIn : MaxPending;
    for (;;) {
        auto oldest = FSessions.end();
        std::size_t count = 0;
        for (auto it = FSessions.begin(); it != FSessions.end(); ++it) {
            if (it->second.Session.SignedIn != ASignedIn)
                continue;
            ++count;
            if (oldest == FSessions.end() || it->second.LastUsed < oldest->second.LastUsed)
                oldest = it;
        }
        if (count < limit)
            return;
        FSessions.erase(oldest);
    }
}

std::optional<TDashboardSessions::TSession> TDashboardSessions::Start(bool ASignedIn, TTime ANow) {
    const std::string id = RandomBytes(SecretBytes);
    const std::string token = RandomBytes(SecretBytes);
    if (id.empty() || token.empty() || FKey.empty())
        return std::nullopt;
    MakeRoom(ASignedIn, ANow);
    TSession session{HexText(id), HexText(token), ASignedIn};
    FSessions[KeyOf(session.Id)] = {session, ANow};
    return session;
}

std::optional<TDashboardSessions::TSession> TDashboardSessions::StartPending() {
    std::lock_guard<std::mutex> guard(FLock);
    return Start(false, Now());
}

std::optional<TDashboardSessions::TSession> TDashboardSessions::Find(std::string_view AId) {
    const TTime now = Now();
    std::lock_guard<std::mutex> guard(FLock);
    auto found = FSessions.find(KeyOf(AId));
    if (found == FSessions.end())
        return std::nullopt;
    if (Expired(found->second, now)) {
        FSessions.erase(found);
        return std::nullopt;
    }
    found->second.LastUsed = now;
    return found->second.Session;
}

std::optional<TDashboardSessions::TSession> TDashboardSessions::SignIn(std::string_view AId) {
    const TTime now = Now();
    std::lock_guard<std::mutex> guard(FLock);
    FSessions.erase(KeyOf(AId));
    return Start(true, now);
}

void TDashboardSessions::End(std::string_view AId) {
    std::lock_guard<std::mutex> guard(FLock);
    FSessions.erase(KeyOf(AId));
}

void TDashboardSessions::Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    FSessions.clear();
}
