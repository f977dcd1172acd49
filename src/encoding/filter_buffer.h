// A growable byte buffer with its own lock: the input and the output side of every filter.
// Producers append at the end, consumers take from the front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/critical_section.h"

// Initial capacity and the largest capacity a buffer may grow to.
constexpr uint32_t kFilterBufferInitialCapacity = 16384;
constexpr uint32_t kFilterBufferMaximum = 0x10000000;  // 256 MiB

class FilterBuffer {
public:
    FilterBuffer() = default;
    FilterBuffer(const FilterBuffer&) = delete;
    FilterBuffer& operator=(const FilterBuffer&) = delete;

    // Appends `count` bytes. Grows to the larger of twice the capacity and what is needed; the
    // block is allocated on first use. False (nothing appended) when the result would exceed
    // the maximum or memory runs out. Takes the lock; any thread.
    bool Append(const void* bytes, size_t count);

    // Removes up to `count` bytes from the front, copying them to `copy_to` first when it is
    // not null; the rest moves down. Returns the number removed. Takes the lock; any thread.
    size_t Consume(size_t count, void* copy_to = nullptr);

    // Forgets the content (used 0) and zero-fills the block. Takes the lock; any thread.
    void Clear();

    // Frees the block; the next append allocates again. Takes the lock; any thread.
    void Release();

    // Number of bytes held. Takes the lock; any thread.
    size_t size() const;

    // The held bytes. Valid only while the caller holds lock() and neither appends nor
    // consumes; null while nothing was ever allocated.
    const uint8_t* data() const { return data_.get(); }

    // Keeps data and size stable for a reader that works on data() directly. Re-entrant, so
    // the holder may call the members above.
    kem::platform::CriticalSection& lock() const { return lock_; }

    // Bytes allocated (or to be allocated on first use), and the most the buffer may grow to.
    // Read under lock() when another thread may append.
    uint32_t capacity() const { return capacity_; }
    uint32_t maximum() const { return maximum_; }

private:
    // Makes room for `needed` bytes in total. Caller holds the lock.
    bool Reserve(size_t needed);

    std::unique_ptr<uint8_t[]> data_;
    uint32_t used_ = 0;
    uint32_t capacity_ = kFilterBufferInitialCapacity;
    uint32_t maximum_ = kFilterBufferMaximum;
    mutable kem::platform::CriticalSection lock_;
};
