// A settings store held in memory, for tests of the codecs and the structure binding without
// files or a registry. Names compare without ASCII case and keep their first-write order.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "settings/profile_base.h"

class CMemoryProfile : public CKemProfileBaseClass {
public:
    struct Section {
        std::u16string name;
        std::vector<std::pair<std::u16string, std::u16string>> values;
    };

    bool fail_writes = false;  // writes fail and store nothing while set
    int write_calls = 0;       // failed ones included
    int read_calls = 0;

    const std::vector<Section>& sections() const { return sections_; }

    // The stored value, or null when there is none.
    const std::u16string* Find(std::u16string_view section, std::u16string_view key) const {
        for (const Section& s : sections_) {
            for (const auto& [name, value] : s.values) {
                if (Same(s.name, section) && Same(name, key)) {
                    return &value;
                }
            }
        }
        return nullptr;
    }

    // Sets a value directly, as a file or registry prepared beforehand would hold it.
    void Put(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        auto s = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& x) { return Same(x.name, section); });
        if (s == sections_.end()) {
            s = sections_.insert(s, {std::u16string(section), {}});
        }
        for (auto& [name, stored] : s->values) {
            if (Same(name, key)) {
                stored = value;
                return;
            }
        }
        s->values.emplace_back(std::u16string(key), std::u16string(value));
    }

    int32_t WriteStringRaw(const char16_t* section, const char16_t* key, const char16_t* value,
                           const char16_t*) override {
        ++write_calls;
        if (fail_writes || key == nullptr) {
            return 0;
        }
        Put(Text(section), key, Text(value));
        m_bModified = 1;
        return 1;
    }

    int32_t ReadStringRaw(const char16_t* section, const char16_t* key,
                          const char16_t* default_value, char16_t* buffer, int32_t capacity,
                          const char16_t*) override {
        ++read_calls;
        const std::u16string* value = key == nullptr ? nullptr : Find(Text(section), key);
        return kem::settings::CopyTextBounded(buffer, capacity,
                                              value != nullptr ? *value : Text(default_value));
    }

private:
    static std::u16string_view Text(const char16_t* text) {
        return text == nullptr ? std::u16string_view() : std::u16string_view(text);
    }

    static bool Same(std::u16string_view a, std::u16string_view b) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
    }

    std::vector<Section> sections_;
};
