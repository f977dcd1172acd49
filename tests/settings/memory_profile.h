// A settings store held in memory, for tests of the codecs and the structure binding without
// files or a registry. Sections and keys are compared without regard to ASCII case and keep
// the order in which they were first written.
#pragma once

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

    // Writes fail (and store nothing) while this is set.
    bool fail_writes = false;
    // Number of WriteStringRaw calls, failed ones included.
    int write_calls = 0;
    // Number of ReadStringRaw calls.
    int read_calls = 0;

    const std::vector<Section>& sections() const { return sections_; }

    // The stored value, or null when there is none.
    const std::u16string* Find(std::u16string_view section, std::u16string_view key) const {
        const Section* s = FindSection(section);
        if (s == nullptr) {
            return nullptr;
        }
        for (const auto& [name, value] : s->values) {
            if (Same(name, key)) {
                return &value;
            }
        }
        return nullptr;
    }

    // Sets a value directly, as a file or registry prepared beforehand would hold it.
    void Put(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        Section* s = FindSection(section);
        if (s == nullptr) {
            sections_.push_back({std::u16string(section), {}});
            s = &sections_.back();
        }
        for (auto& [name, stored] : s->values) {
            if (Same(name, key)) {
                stored = value;
                return;
            }
        }
        s->values.emplace_back(std::u16string(key), std::u16string(value));
    }

    size_t ValueCount() const {
        size_t count = 0;
        for (const Section& s : sections_) {
            count += s.values.size();
        }
        return count;
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

    int32_t HasSection(const char16_t* section) override {
        return FindSection(Text(section)) != nullptr ? 1 : 0;
    }

    int32_t SectionExists(const char16_t* section, const char16_t*, const char16_t*) override {
        return HasSection(section);
    }

    int32_t EnumSections(std::vector<std::u16string>* out, const char16_t*) override {
        if (out != nullptr) {
            out->clear();
            for (const Section& s : sections_) {
                out->push_back(s.name);
            }
        }
        return static_cast<int32_t>(sections_.size());
    }

    int32_t EnumKeys(const char16_t* section, std::vector<std::u16string>* out,
                     const char16_t*) override {
        if (out != nullptr) {
            out->clear();
        }
        const Section* s = FindSection(Text(section));
        if (s == nullptr) {
            return 0;
        }
        if (out != nullptr) {
            for (const auto& value : s->values) {
                out->push_back(value.first);
            }
        }
        return static_cast<int32_t>(s->values.size());
    }

private:
    static std::u16string_view Text(const char16_t* text) {
        return text == nullptr ? std::u16string_view() : std::u16string_view(text);
    }

    static bool Same(std::u16string_view a, std::u16string_view b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            auto lower = [](char16_t c) {
                return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
            };
            if (lower(a[i]) != lower(b[i])) {
                return false;
            }
        }
        return true;
    }

    const Section* FindSection(std::u16string_view name) const {
        for (const Section& s : sections_) {
            if (Same(s.name, name)) {
                return &s;
            }
        }
        return nullptr;
    }

    Section* FindSection(std::u16string_view name) {
        return const_cast<Section*>(std::as_const(*this).FindSection(name));
    }

    std::vector<Section> sections_;
};
