#include "encoding/filter_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

bool FilterBuffer::Reserve(size_t needed) {
    if (needed > maximum_) {
        return false;
    }
    if (data_ != nullptr && needed <= capacity_) {
        return true;
    }
    size_t grown = data_ == nullptr ? capacity_ : static_cast<size_t>(capacity_) * 2;
    grown = std::max(grown, needed);
    if (grown < 1) {
        return false;
    }
    grown = std::min<size_t>(grown, maximum_);
    // Whole 4-byte words, so a reader may look at a trailing UTF-16 or UTF-32 unit safely.
    const size_t rounded = (grown + 3) & ~static_cast<size_t>(3);
    uint8_t* block = new (std::nothrow) uint8_t[rounded]();
    if (block == nullptr) {
        return false;
    }
    if (used_ > 0) {
        std::memcpy(block, data_.get(), used_);
    }
    data_.reset(block);
    capacity_ = static_cast<uint32_t>(grown);
    return true;
}

bool FilterBuffer::Append(const void* bytes, size_t count) {
    kem::platform::CriticalSectionLock hold(lock_);
    if (count == 0) {
        return true;
    }
    if (bytes == nullptr || count > maximum_ || !Reserve(used_ + count)) {
        return false;
    }
    std::memcpy(data_.get() + used_, bytes, count);
    used_ += static_cast<uint32_t>(count);
    return true;
}

size_t FilterBuffer::Consume(size_t count, void* copy_to) {
    kem::platform::CriticalSectionLock hold(lock_);
    const size_t taken = std::min<size_t>(count, used_);
    if (taken == 0) {
        return 0;
    }
    if (copy_to != nullptr) {
        std::memcpy(copy_to, data_.get(), taken);
    }
    const size_t rest = used_ - taken;
    std::memmove(data_.get(), data_.get() + taken, rest);
    // Zero the vacated tail so the bytes after `used` are always zero, as after a clear.
    std::memset(data_.get() + rest, 0, taken);
    used_ = static_cast<uint32_t>(rest);
    return taken;
}

void FilterBuffer::Clear() {
    kem::platform::CriticalSectionLock hold(lock_);
    // Bytes past `used` are kept zero (a new block is zeroed, a consume zeroes what it
    // vacates), so zeroing the used part leaves the whole block zero.
    if (data_ != nullptr) {
        std::memset(data_.get(), 0, used_);
    }
    used_ = 0;
}

void FilterBuffer::Release() {
    kem::platform::CriticalSectionLock hold(lock_);
    data_.reset();
    used_ = 0;
    capacity_ = kFilterBufferInitialCapacity;
}

size_t FilterBuffer::size() const {
    kem::platform::CriticalSectionLock hold(lock_);
    return used_;
}
