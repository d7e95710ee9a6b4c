// TNetBuffer: a growable in-memory byte stream (memory, size, position) with RemoveFront.
// Owned by one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Leaves new elements uninitialised: a receive buffer is written by recv() before it is read,
// and zeroing 32 KiB for every connection showed up as the hottest user-space code under load.
template <class T> struct TUninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind { using other = TUninitialisedAllocator<U>; };
    TUninitialisedAllocator() = default;
    template <class U> TUninitialisedAllocator(const TUninitialisedAllocator<U>&) noexcept {}
    template <class U> void construct(U* APlace) noexcept { ::new (static_cast<void*>(APlace)) U; }
    template <class U, class... TArgs> void construct(U* APlace, TArgs&&... AArgs) {
        ::new (static_cast<void*>(APlace)) U(std::forward<TArgs>(AArgs)...);
    }
};

class TNetBuffer {
public:
    TNetBuffer() = default;
    // ASize bytes whose contents are undefined until written.
    explicit TNetBuffer(size_t ASize) : FData(ASize) {}

    char* Memory() { return FData.data(); }
    const char* Memory() const { return FData.data(); }
    size_t Size() const { return FData.size(); }
    // Bytes the buffer can hold before it must grow.
    size_t Capacity() const { return FData.capacity(); }
    void Reserve(size_t ACapacity) { FData.reserve(ACapacity); }
    // Grows with zero bytes or cuts; the position stays within the new size.
    void SetSize(size_t ASize);
    size_t Position() const { return FPosition; }
    void SetPosition(size_t APosition);
    bool Empty() const { return FData.empty(); }

    // Writes at the position (growing as needed) and advances it.
    void Write(const void* ABytes, size_t ACount);
    // Reads up to ACount bytes from the position; the number read.
    size_t Read(void* ABytes, size_t ACount);
    // Adds bytes at the end; the position does not move.
    void Append(const void* ABytes, size_t ACount);
    // Adds ACount bytes of undefined contents at the end for a caller to write into (then cut
    // with SetSize what it did not use); their start. Grows to exactly what is needed.
    char* Extend(size_t ACount);
    // Drops the first ACount bytes; more than Size raises ENetNotEnoughDataInBuffer.
    void RemoveFront(size_t ACount);
    void Clear();
    std::string Text(size_t ACount) const { return std::string(FData.data(), ACount); }

private:
    std::vector<char, TUninitialisedAllocator<char>> FData;
    size_t FPosition = 0;
};
