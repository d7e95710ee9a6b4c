#include "tcp/TNetBuffer.h"

#include <algorithm>
#include <cstring>

#include "tcp/NetExceptions.h"

void TNetBuffer::SetSize(size_t ASize) {
    size_t old = FData.size();
    FData.resize(ASize);
    if (ASize > old)
        std::memset(FData.data() + old, 0, ASize - old);
    FPosition = std::min(FPosition, ASize);
}

void TNetBuffer::SetPosition(size_t APosition) {
    FPosition = std::min(APosition, FData.size());
}

void TNetBuffer::Write(const void* ABytes, size_t ACount) {
    if (ACount == 0)
        return;
    if (FPosition + ACount > FData.size())
        FData.resize(FPosition + ACount);
    std::memcpy(FData.data() + FPosition, ABytes, ACount);
    FPosition += ACount;
}

size_t TNetBuffer::Read(void* ABytes, size_t ACount) {
    size_t count = std::min(ACount, FData.size() - FPosition);
    if (count > 0)
        std::memcpy(ABytes, FData.data() + FPosition, count);
    FPosition += count;
    return count;
}

void TNetBuffer::Append(const void* ABytes, size_t ACount) {
    if (ACount == 0)
        return;
    // Grown as a vector grows, then one copy: inserting a range constructs byte by byte with
    // this allocator.
    const size_t old = FData.size();
    if (old + ACount > FData.capacity())
        FData.reserve(std::max(old + ACount, 2 * FData.capacity()));
    FData.resize(old + ACount);
    std::memcpy(FData.data() + old, ABytes, ACount);
}

char* TNetBuffer::Extend(size_t ACount) {
    const size_t old = FData.size();
    if (old + ACount > FData.capacity())
        FData.reserve(old + ACount);
    FData.resize(old + ACount);
    return FData.data() + old;
}

void TNetBuffer::RemoveFront(size_t ACount) {
    if (ACount > FData.size())
        throw ENetNotEnoughDataInBuffer();
    FData.erase(FData.begin(), FData.begin() + static_cast<std::ptrdiff_t>(ACount));
    FPosition = FPosition > ACount ? FPosition - ACount : 0;
}

void TNetBuffer::Clear() {
    FData.clear();
    FPosition = 0;
}
