// The headless program's stdout and stderr: lines go into a bounded buffer that one writer
// thread empties, so no caller ever waits on a terminal or a pipe. When the reader does not
// keep up, lines are dropped and counted, and a line says how many once the output moves again.
// Push: any thread. Close and the destructor: the thread that created it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class THeadlessOutput {
public:
    enum class TStream { Out, Err };

    // Bytes that may wait, for both streams together; the writer holds as much again at most
    // while it writes what it took.
    static constexpr std::size_t DefaultCapacity = 1024 * 1024;

    THeadlessOutput(int AOutFd, int AErrFd, std::size_t ACapacity = DefaultCapacity);
    ~THeadlessOutput(); // Close with no time to write what waits
    THeadlessOutput(const THeadlessOutput&) = delete;
    THeadlessOutput& operator=(const THeadlessOutput&) = delete;

    // Queues AText and a line break. Control bytes other than CR and LF, DEL and bytes of
    // invalid UTF-8 are written as \xHH, whoever made the text. Never waits for the output.
    void Push(TStream AStream, std::string_view AText);
    // Gives the writer at most AWait to write what waits, then stops it. A writer that is held
    // inside a write is left to the end of the process, which it no longer keeps from ending.
    void Close(std::chrono::milliseconds AWait);

    // Lines dropped so far because the buffer was full.
    std::uint64_t Dropped() const;

private:
    struct TState;
    static void RunWriter(const std::shared_ptr<TState>& AState);

    // Shared with the writer thread, which may outlive this object after Close.
    std::shared_ptr<TState> FState;
    bool FClosed = false;
};
