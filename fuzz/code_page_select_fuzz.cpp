// The code-page selector and its converters on arbitrary bytes. Properties checked:
// - no fault and no read or write outside any buffer (the sanitizers watch);
// - a stream whose encoding is fixed (a byte-order mark, strict UTF-8, or the encoding
//   direction) converts to the same result however it is cut into pieces;
// - text decoded from UTF-8, UTF-16 LE or UTF-16 BE encodes back to the same units and decodes
//   again to them;
// - filter parameters accept any name, length and buffer without overstepping the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/cp_selecter.h"
#include "platform/code_page.h"

namespace {

std::string TakeAll(CKemFilterBaseClass& filter) {
    FilterBuffer* buffer = filter.GetOutputBuffer();
    kem::platform::CriticalSectionLock hold(buffer->lock());
    std::string bytes(buffer->size(), '\0');
    buffer->Consume(bytes.size(), bytes.data());
    return bytes;
}

// Feeds `bytes` in pieces whose sizes come from `sizes` (cycled; 0 counts as 1).
std::string Convert(std::string_view bytes, uint32_t direction, int32_t type,
                    std::string_view sizes) {
    CKemFilterContainerCPSelecter selector;
    selector.SetDirection(direction);
    selector.SetParam(u"OutputCodeType", &type, sizeof type);
    std::string out;
    size_t at = 0;
    size_t turn = 0;
    while (at < bytes.size()) {
        size_t piece = bytes.size() - at;
        if (!sizes.empty()) {
            piece = std::max<size_t>(1, static_cast<uint8_t>(sizes[turn++ % sizes.size()]));
        }
        piece = std::min(piece, bytes.size() - at);
        selector.Input(bytes.data() + at, static_cast<uint32_t>(piece));
        out += TakeAll(selector);
        at += piece;
    }
    selector.Input(nullptr, 0);
    out += TakeAll(selector);
    return out;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool HasMark(std::string_view bytes) {
    auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    return starts("\xFF\xFE") || starts("\xFE\xFF") || starts("\xEF\xBB\xBF");
}

// Parameters of the ANSI filter with names, lengths and buffers taken from the input.
void ExerciseParameters(std::string_view control, std::string_view rest) {
    CKemFilterUCS2ToANSI filter;
    static const char16_t* const kNames[] = {u"UseDefaultChar", u"usedDEFAULTchar", u"DefaultChar",
                                             u"Nothing", u""};
    for (size_t i = 0; i + 1 < control.size(); i += 2) {
        const char16_t* name = kNames[static_cast<uint8_t>(control[i]) % 5];
        const int32_t length = static_cast<int8_t>(control[i + 1]);
        std::vector<char> value(rest.begin(), rest.end());
        value.resize(value.size() < 48 ? 48 : value.size());
        const int32_t bounded = std::min<int32_t>(length, static_cast<int32_t>(value.size()));
        if ((control[i] & 0x80) != 0) {
            // A negative length makes the filter measure the text, so it must be terminated.
            value.back() = '\0';
            filter.SetParam(name, value.data(), bounded);
        } else if (bounded >= 0) {
            filter.GetParam(name, value.data(), bounded);
        }
    }
    filter.SetDirection(0);
    filter.Input(rest.data(), static_cast<uint32_t>(rest.size()));
    TakeAll(filter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // First byte: how many of the following bytes describe piece sizes; the rest is the text.
    const size_t control = std::min<size_t>(data[0] % 16, size - 1);
    const std::string_view sizes(reinterpret_cast<const char*>(data + 1), control);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1 + control),
                                 size - 1 - control);

    // Decoding.
    const std::string whole = Convert(bytes, 0, 0, {});
    const std::string pieces = Convert(bytes, 0, 0, sizes);
    const auto verdict =
        kem::encoding::JudgeUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (HasMark(bytes) || verdict != kem::encoding::Utf8Verdict::kNotUtf8) {
        Check(whole == pieces);
    }
    std::string units = whole;
    units.resize(units.size() & ~static_cast<size_t>(1));

    // Encoding, and back.
    for (int32_t type : {1, 2, 3, 4}) {
        const std::string encoded = Convert(units, 1, type, {});
        Check(encoded == Convert(units, 1, type, sizes));
        if (type == 1) {
            continue;
        }
        std::string decoded = Convert(encoded, 0, 0, sizes);
        // A high surrogate at the very end waits for its partner in every route.
        std::string expected = units;
        if (type == 4 && expected.size() >= 2) {
            const auto last = static_cast<uint8_t>(expected[expected.size() - 1]);
            if (last >= 0xD8 && last <= 0xDB) {
                expected.resize(expected.size() - 2);
            }
        }
        Check(decoded == expected);
    }

    ExerciseParameters(sizes, bytes);
    return 0;
}
