// The one place the transport starts platform threads (POSIX threads here). Any thread.
#pragma once

#include <cstddef>
#include <memory>

#include <pthread.h>

// Runs AEntry(AArgument) on a new platform thread with a stack of AStackSize bytes (0: the
// system's default). With AJoinable the thread is joinable and its handle is stored there;
// without, nobody joins it. Returns 0, or the system's error number when no thread was made.
int StartPlatformThread(void* (*AEntry)(void*), void* AArgument, std::size_t AStackSize,
                        pthread_t* AJoinable);

// The body of a thread as StartThreadWith runs it: called once, then freed; nothing escapes.
template <typename TBody> void* RunThreadBody(void* ABody) {
    std::unique_ptr<TBody> body(static_cast<TBody*>(ABody));
    try {
        (*body)();
    } catch (...) {
        // An exception leaving a platform thread would end the program.
    }
    return nullptr;
}

// Runs *ABody (any object with operator()) on a new platform thread, which owns and frees it.
// Returns 0, or the system's error number: ABody then still holds the body, which never ran.
template <typename TBody>
int StartThreadWith(std::unique_ptr<TBody>& ABody, std::size_t AStackSize,
                    pthread_t* AJoinable = nullptr) {
    const int error =
        StartPlatformThread(&RunThreadBody<TBody>, ABody.get(), AStackSize, AJoinable);
    if (error == 0)
        (void)ABody.release(); // the thread frees it
    return error;
}
