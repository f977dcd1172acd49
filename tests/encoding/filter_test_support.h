// Helpers for the filter tests: UTF-16 bytes, and feeding a filter whole or in pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/filter_base.h"
#include "support/hex_text.h"

namespace kem::encoding::test {

using kem::testing::HexText;

// The bytes of `units` as UTF-16, little-endian unless `big_endian`.
inline std::string Utf16(std::u16string_view units, bool big_endian = false) {
    std::string bytes;
    for (char16_t c : units) {
        bytes.push_back(static_cast<char>(big_endian ? c >> 8 : c & 0xFF));
        bytes.push_back(static_cast<char>(big_endian ? c & 0xFF : c >> 8));
    }
    return bytes;
}

// UTF-16 little-endian bytes back to units; an odd trailing byte is ignored.
inline std::u16string Units(std::string_view bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    return units;
}

inline FilterStatus Feed(CKemFilterBaseClass& filter, std::string_view bytes) {
    return filter.Input(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Takes everything the filter's output buffer holds.
inline std::string Drain(CKemFilterBaseClass& filter) {
    FilterBuffer* buffer = filter.GetOutputBuffer();
    kem::platform::CriticalSectionLock hold(buffer->lock());
    std::string bytes(buffer->size(), '\0');
    buffer->Consume(bytes.size(), bytes.data());
    return bytes;
}

// What the filter's input buffer still holds, without taking it.
inline std::string Pending(CKemFilterBaseClass& filter) {
    FilterBuffer* buffer = filter.GetInputBuffer();
    if (buffer == nullptr) {
        return {};
    }
    kem::platform::CriticalSectionLock hold(buffer->lock());
    return std::string(reinterpret_cast<const char*>(buffer->data()), buffer->size());
}

// Feeds `bytes` split at the given offsets, draining after every piece, and returns all output.
inline std::string FeedInPieces(CKemFilterBaseClass& filter, std::string_view bytes,
                                const std::vector<size_t>& cuts) {
    std::string out;
    size_t from = 0;
    for (size_t cut : cuts) {
        Feed(filter, bytes.substr(from, cut - from));
        out += Drain(filter);
        from = cut;
    }
    Feed(filter, bytes.substr(from));
    return out + Drain(filter);
}

// Offsets every `piece` bytes up to `size`.
inline std::vector<size_t> EveryPiece(size_t piece, size_t size) {
    std::vector<size_t> cuts;
    for (size_t at = piece; at < size; at += piece) {
        cuts.push_back(at);
    }
    return cuts;
}

}  // namespace kem::encoding::test
