// Headless Chromium driven over its DevTools pipe (--remote-debugging-pipe: commands on the
// browser's descriptor 3, answers and events on 4, each a JSON text ending in a NUL byte): one
// page to load, evaluate script in, and take a picture of, with the events that tell of
// dialogs, script errors and console errors. Owned by one thread; every wait is bounded.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class DevToolsBrowser {
public:
    // Starts the browser with a fresh profile in AProfileDir and opens a blank page; Ready()
    // tells whether that worked.
    explicit DevToolsBrowser(const std::string& AProfileDir);
    ~DevToolsBrowser();
    DevToolsBrowser(const DevToolsBrowser&) = delete;
    DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

    bool Ready() const { return !FSession.empty(); }
    // Loads AUrl and waits for its load event; false after 30 s.
    bool Navigate(const std::string& AUrl);
    // Runs AScript in the page and waits for the next load event (a form it submits).
    bool RunAndWaitForLoad(const std::string& AScript);
    // The value of AExpression, which must give a string (JSON.stringify it); empty on failure.
    std::string Evaluate(const std::string& AExpression);
    // A PNG picture of the whole page; empty on failure.
    std::string Screenshot();
    // The events that say something went wrong: a dialog opened, a script error, an error on
    // the console or in the browser's log (a refused load, a policy violation).
    std::vector<std::string> Complaints() const;

private:
    // Sends a command (to the page's session unless ABrowser) and waits for its answer.
    std::string Call(const std::string& AMethod, const std::string& AParams, bool ABrowser = false);
    // Reads messages until one satisfies AWanted or the time is up; events are kept.
    bool ReadUntil(const std::function<bool(const std::string&)>& AWanted,
                   std::chrono::milliseconds ATimeout, std::string* AFound = nullptr);
    // Whether a load event came after the first ABefore ones, waiting for it up to 30 s.
    bool WaitForLoadAfter(std::size_t ABefore);
    std::size_t LoadCount() const;

    pid_t FPid = -1;
    int FCommands = -1;   // we write
    int FAnswers = -1;    // we read
    std::string FPending; // bytes read after the last whole message
    int FNextId = 1;
    std::string FSession;
    std::vector<std::string> FEvents;
};

// The string at the member AName of a JSON text (the first such member), unescaped; empty
// when there is none.
std::string JsonStringMember(const std::string& AJson, const std::string& AName);
