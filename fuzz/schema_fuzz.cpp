// Any schema text parses without a fault, and binding a record of the size the schema
// describes, through the memory store, stays inside that record. Loading from an empty store
// must leave the record byte for byte as it was; a save followed by a load must not fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_sink.h"
#include "settings/memory_profile.h"
#include "settings/schema.h"

namespace {

// Records above this are skipped: the size check itself is what is under test there.
constexpr int64_t kMaxFuzzRecord = 1 << 16;

// The first byte picks how the rest becomes text: one unit per byte (separators and type
// names are easy to reach), or little-endian UTF-16 units (surrogates, non-ASCII).
std::u16string TextOf(const uint8_t* data, size_t size) {
    std::u16string text;
    if (size == 0) {
        return text;
    }
    if (data[0] & 1) {
        for (size_t i = 1; i + 1 < size; i += 2) {
            text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
        }
    } else {
        for (size_t i = 1; i < size; ++i) {
            text.push_back(static_cast<char16_t>(data[i]));
        }
    }
    // The schema is a zero-terminated text: it ends at the first zero.
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        kem::platform::SetDebugSink([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    const std::u16string schema = TextOf(data, size);

    SchemaField* fields = nullptr;
    const int32_t count =
        kem::settings::ParseSchema(&fields, schema.c_str(), u"|", u",", u"{", u"}");
    for (int32_t i = 0; i < count; ++i) {
        if (fields[i].total_size < 0 || fields[i].count < 0 || fields[i].element_size < 0) {
            std::abort();
        }
    }
    kem::settings::FreeSchema(&fields, count);

    const int64_t record_size = kem::settings::SchemaRecordSize(schema.c_str(), u"|", u",");
    if (record_size < 0 || record_size > kMaxFuzzRecord) {
        return 0;
    }
    // The record lies exactly in its allocation, so the sanitizer sees any step outside it.
    std::vector<uint8_t> record(static_cast<size_t>(record_size));
    for (size_t i = 0; i < record.size(); ++i) {
        record[i] = size > 0 ? data[i % size] : 0;
    }
    const std::vector<uint8_t> original = record;

    CMemoryProfile empty;
    empty.LoadStruct(u"S", record.data(), schema.c_str(), nullptr, u"|", u",", u"{", u"}");
    if (record != original) {
        std::abort();
    }

    CMemoryProfile store;
    store.SaveStruct(u"S", record.data(), schema.c_str(), nullptr, u"|", u",", u"{", u"}");
    std::vector<uint8_t> loaded(record.size(), 0);
    store.LoadStruct(u"S", loaded.data(), schema.c_str(), nullptr, u"|", u",", u"{", u"}");
    return 0;
}
