#include "http/TNetHTTPSessionList.h"

#include "http/NetHTTPText.h"

#include <chrono>

namespace {

// The last "0" is never picked: identifiers draw from the first 61 characters.
const std::string SessionIdChars = "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM1234567890";
constexpr size_t SessionIdLength = 15;
constexpr size_t InitialCapacity = 128;

} // namespace

TNetHTTPSessionList::TNetHTTPSessionList() : FRandom(std::random_device{}()) {
    FSessions.reserve(InitialCapacity);
}

TNetHTTPSessionList::~TNetHTTPSessionList() {
    ClearSessions();
}

void TNetHTTPSessionList::EndAt(size_t AIndex) {
    const std::shared_ptr<TNetHTTPSession> session = FSessions[AIndex];
    session->NotifyEnd();
    session->Detach();
    FSessions.erase(FSessions.begin() + static_cast<std::ptrdiff_t>(AIndex));
}

std::shared_ptr<TNetHTTPSession> TNetHTTPSessionList::FindSession(const std::string& AId,
                                                                  const std::string& APeerAddress) {
    std::lock_guard lock(FLock);
    const TDateTime now = Now();
    for (size_t i = 0; i < FSessions.size();) {
        TNetHTTPSession& session = *FSessions[i];
        if (session.IsExpired(now)) {
            EndAt(i);
            continue;
        }
        if (SameTextAscii(session.Id(), AId) &&
            (APeerAddress.empty() || SameTextAscii(session.PeerAddress(), APeerAddress))) {
            session.SetLastAccess(now);
            return FSessions[i];
        }
        ++i;
    }
    return nullptr;
}

std::string TNetHTTPSessionList::NewSessionId() {
    std::uniform_int_distribution<size_t> pick(0, SessionIdChars.size() - 2);
    std::string id;
    for (size_t i = 0; i < SessionIdLength; ++i)
        id += SessionIdChars[pick(FRandom)];
    return id;
}

std::shared_ptr<TNetHTTPSession>
TNetHTTPSessionList::StartSession(const std::string& APeerAddress) {
    std::string id;
    {
        std::lock_guard lock(FLock);
        id = NewSessionId();
    }
    auto session = std::make_shared<TNetHTTPSession>(this, id, APeerAddress);
    if (OnSessionStart)
        OnSessionStart(session.get());
    std::lock_guard lock(FLock);
    FSessions.push_back(session);
    return session;
}

void TNetHTTPSessionList::EndExpired(bool AAll) {
    std::lock_guard lock(FLock);
    const TDateTime now = Now();
    for (size_t i = FSessions.size(); i-- > 0;) {
        if (AAll || FSessions[i]->IsExpired(now))
            EndAt(i);
    }
}

void TNetHTTPSessionList::ClearSessions() {
    EndExpired(true);
    std::lock_guard lock(FLock);
    FSessions.shrink_to_fit();
    FSessions.reserve(InitialCapacity);
}

int TNetHTTPSessionList::Count() const {
    std::lock_guard lock(FLock);
    return static_cast<int>(FSessions.size());
}

TNetHTTPSessionCleanerThread::TNetHTTPSessionCleanerThread(TNetHTTPSessionList& AList)
    : FList(AList), FThread([this] { Run(); }) {}

TNetHTTPSessionCleanerThread::~TNetHTTPSessionCleanerThread() {
    StopAndWait();
}

void TNetHTTPSessionCleanerThread::StopAndWait() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TNetHTTPSessionCleanerThread::Run() noexcept {
    try {
        std::unique_lock lock(FLock);
        while (!FWake.wait_for(lock, std::chrono::milliseconds(1000), [this] { return FStop; })) {
            lock.unlock();
            FList.EndExpired(false);
            lock.lock();
        }
        lock.unlock();
        FList.ClearSessions();
    } catch (...) {
        // A failing end event must not take the process down; the sessions stay for the
        // server's deactivation to end.
    }
}
