#include "tcp/NetPlatformThread.h"

int StartPlatformThread(void* (*AEntry)(void*), void* AArgument, std::size_t AStackSize,
                        pthread_t* AJoinable) {
    pthread_attr_t attributes;
    if (const int error = pthread_attr_init(&attributes); error != 0)
        return error;
    if (AStackSize > 0)
        pthread_attr_setstacksize(&attributes, AStackSize);
    pthread_attr_setdetachstate(&attributes, AJoinable != nullptr ? PTHREAD_CREATE_JOINABLE
                                                                  : PTHREAD_CREATE_DETACHED);
    pthread_t thread{};
    const int error = pthread_create(&thread, &attributes, AEntry, AArgument);
    pthread_attr_destroy(&attributes);
    if (error == 0 && AJoinable != nullptr)
        *AJoinable = thread;
    return error;
}
