// The dashboard's sessions: a random id in a cookie, an anti-forgery token for its forms, and
// whether it has signed in. A session that waits for its sign-in form is kept apart from the
// signed-in ones, so strangers who open the form cannot push out those who signed in. Any
// thread; one lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class TDashboardSessions {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // A signed-in session ends after this long without a request.
    static constexpr std::chrono::hours SignedInIdle{8};
    // A sign-in form is good for this long.
    static constexpr std::chrono::minutes PendingIdle{30};
    // Beyond these the longest idle one of its kind ends.
    static constexpr std::size_t MaxSignedIn = 64;
    static constexpr std::size_t MaxPending = 512;

    struct TSession {
        std::string Id;    // the cookie's value: 64 hex digits
        std::string Token; // the forms' anti-forgery token: 64 hex digits
        bool SignedIn = false;
    };

    // AClock: replaced by tests; the steady clock otherwise.
    explicit TDashboardSessions(TClock AClock = nullptr);

    // A new session for a sign-in form; none when the system gave no random bytes.
    std::optional<TSession> StartPending();
    // The live session with that id (its idle time starts anew); none when there is none.
    std::optional<TSession> Find(std::string_view AId);
    // The session AId (pending) ends and a new signed-in one with a new id and token starts:
    // an id that a stranger planted before the sign-in is worth nothing after it.
    std::optional<TSession> SignIn(std::string_view AId);
    void End(std::string_view AId);
    // Every session ends (the password changed).
    void Clear();

private:
    struct TEntry {
        TSession Session;
        std::chrono::steady_clock::time_point LastUsed;
    };
    using TTime = std::chrono::steady_clock::time_point;

    std::optional<TSession> Start(bool ASignedIn, TTime ANow);
    // The map's key of an id: its keyed hash, so a look-up's time tells nothing of the ids kept.
    std::string KeyOf(std::string_view AId) const;
    bool Expired(const TEntry& AEntry, TTime ANow) const;
    void MakeRoom(bool ASignedIn, TTime ANow);
    TTime Now() const;

    TClock FClock;
    std::string FKey; // of KeyOf, random per process
    // Guards FSessions.
    std::mutex FLock;
    std::map<std::string, TEntry> FSessions;
};
