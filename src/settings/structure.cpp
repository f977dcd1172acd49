#include "settings/structure.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "settings/schema.h"

namespace kem::settings {
namespace {

enum class Mode { kSave, kLoad };

bool IsWholeValue(int32_t type) {
    return type == kSchemaSTR || type == kSchemaWSTR || type == kSchemaTSTR || type == kSchemaMem;
}

// Bytes the work on one element reads or writes.
int64_t AccessWidth(const SchemaField& field) {
    switch (field.type_id) {
        case kSchemaBoolean:
        case kSchemaCHAR:
        case kSchemaUCHAR:
        case kSchemaINT8:
        case kSchemaUINT8:
        case kSchemaBYTE:
            return 1;
        case kSchemaWCHAR:
        case kSchemaTCHAR:
        case kSchemaSHORT:
        case kSchemaUSHORT:
        case kSchemaINT16:
        case kSchemaUINT16:
        case kSchemaWORD:
            return 2;
        case kSchemaBOOL:
        case kSchemaINT:
        case kSchemaINT32:
        case kSchemaUINT:
        case kSchemaUINT32:
        case kSchemaLONG:
        case kSchemaLONG32:
        case kSchemaULONG:
        case kSchemaULONG32:
        case kSchemaDWORD:
        case kSchemaFLOAT:
        case kSchemaPointer:
            return 4;
        case kSchemaINT64:
        case kSchemaUINT64:
        case kSchemaLONG64:
        case kSchemaULONG64:
        case kSchemaLONGLONG:
        case kSchemaULONGLONG:
        case kSchemaDOUBLE:
            return 8;
        case kSchemaSTR:
        case kSchemaMem:
            return field.count;
        case kSchemaWSTR:
        case kSchemaTSTR:
            return int64_t{field.count} * 2;
        case kSchemaStruct:
            return field.element_size;
        default:
            return 0;
    }
}

// Record fields are packed and may sit at any address: every access goes through memcpy.
template <typename T>
T Get(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <typename T>
void Put(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof(T));
}

// A double that a float cannot hold becomes an infinity, as the hardware conversion would
// give, instead of an undefined conversion.
float Narrow(double value) {
    if (value > FLT_MAX) {
        return INFINITY;
    }
    if (value < -FLT_MAX) {
        return -INFINITY;
    }
    return static_cast<float>(value);
}

// A NaN read back as the default must not rewrite the field: the conversion to double and
// back may change the NaN's bits.
bool SameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

std::u16string CutName(std::u16string text, int32_t units) {
    if (text.size() > static_cast<size_t>(units)) {
        size_t length = static_cast<size_t>(units);
        if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
            --length;
        }
        text.resize(length);
    }
    return text;
}

void Report(const SchemaField& field, const char* what) {
    std::string line = "settings record item ";
    line += kem::platform::WideToUtf8(field.name);
    line += ": ";
    line += what;
    line += '\n';
    kem::platform::DebugOutput(line);
}

// The text of a field of `count` units (bytes for 8-bit text) up to its first zero; a field
// without one gives all its units, so a record never leads a read past its end.
std::u16string FieldText(const uint8_t* at, int32_t count) {
    std::u16string text(static_cast<size_t>(count), u'\0');
    std::memcpy(text.data(), at, static_cast<size_t>(count) * 2);
    text.resize(TextLength(text.c_str()));
    return text;
}

std::string FieldTextA(const uint8_t* at, int32_t count) {
    std::string text(reinterpret_cast<const char*>(at), static_cast<size_t>(count));
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

class Binder {
public:
    Binder(CKemProfileBaseClass& store, Mode mode, const char16_t* location,
           const char16_t* item_separator, const char16_t* field_separator,
           const char16_t* open_brace, const char16_t* close_brace)
        : store_(store),
          mode_(mode),
          location_(location),
          item_separator_(item_separator),
          field_separator_(field_separator),
          open_brace_(open_brace),
          close_brace_(close_brace) {}

    // Binds the record of `size` bytes at `base`; returns the bytes processed.
    int64_t Bind(const std::u16string& section, uint8_t* base, int64_t size, const char16_t* schema,
                 int depth) {
        Parsed parsed(schema, item_separator_, field_separator_);
        return BindParsed(section, base, size, parsed, depth);
    }

    // Whether a store write failed while saving.
    bool write_failed() const { return write_failed_; }

private:
    // A parsed schema, released with its owner. An array of structures binds every element
    // with the one parse of its nested schema.
    class Parsed {
    public:
        Parsed(const char16_t* schema, const char16_t* item_separator,
               const char16_t* field_separator)
            : count_(ParseSchema(&fields_, schema, item_separator, field_separator, u"{", u"}")) {}
        ~Parsed() { FreeSchema(&fields_, count_); }
        Parsed(const Parsed&) = delete;
        Parsed& operator=(const Parsed&) = delete;

        int32_t count() const { return count_; }
        SchemaField& operator[](int32_t i) { return fields_[i]; }

    private:
        SchemaField* fields_ = nullptr;
        int32_t count_ = 0;
    };

    int64_t BindParsed(const std::u16string& section, uint8_t* base, int64_t size, Parsed& parsed,
                       int depth) {
        int64_t field_offset = 0;
        int64_t bytes = 0;
        for (int32_t i = 0; i < parsed.count(); ++i) {
            SchemaField& field = parsed[i];
            bytes += BindField(section, base, size, field_offset, field, depth);
            field_offset += field.total_size;
        }
        return bytes;
    }

private:
    int64_t BindField(const std::u16string& section, uint8_t* base, int64_t size,
                      int64_t field_offset, SchemaField& field, int depth) {
        if (!ResolveStructField(field, item_separator_, field_separator_, depth)) {
            Report(field, "nested schema unusable, item skipped");
            return 0;
        }
        const bool whole = IsWholeValue(field.type_id);
        const int64_t step =
            whole ? int64_t{field.element_size} * field.count : int64_t{field.element_size};
        switch (field.type_id) {
            case kSchemaUnknow:
            case kSchemaSkip:
                return step * field.count;  // stepped over, nothing stored
            case kSchemaLPStruct:
                // A 4-byte slot cannot hold an address in this build, so the record it would
                // point to cannot be reached; the slot is stepped over.
                Report(field, "LPStruct is not followed, slot skipped");
                return step * field.count;
            case kSchemaStruct:
                if (!field.nested_schema) {
                    Report(field, "structure without nested schema, item skipped");
                    return 0;
                }
                break;
            default:
                break;
        }
        const int64_t width = AccessWidth(field);
        if (!whole && step == 0 && field.count > 1) {
            Report(field, "elements of size 0, item skipped");
            return 0;
        }
        std::unique_ptr<Parsed> nested;
        if (field.type_id == kSchemaStruct) {
            nested = std::make_unique<Parsed>(field.nested_schema.get(), item_separator_,
                                              field_separator_);
        }
        int64_t bytes = 0;
        for (int32_t index = 0; index < field.count; ++index) {
            const int64_t offset = field_offset + step * index;
            if (offset < 0 || offset + width > size) {
                Report(field, "element outside the record, rest of item skipped");
                break;
            }
            std::u16string key(field.name);
            if (!whole && field.count > 1) {
                const std::string number = std::to_string(index);
                key += u'_';
                key.append(number.begin(), number.end());
            }
            key = CutName(std::move(key), kStructKeyUnits);
            Element(field, section, key, base + offset, nested.get(), depth);
            bytes += step;
            if (whole) {
                break;
            }
        }
        return bytes;
    }

    void Element(const SchemaField& field, const std::u16string& section_text,
                 const std::u16string& key_text, uint8_t* at, Parsed* nested_schema, int depth) {
        const char16_t* section = section_text.c_str();
        const char16_t* key = key_text.c_str();
        const bool save = mode_ == Mode::kSave;
        CKemProfileBaseClass& s = store_;
        switch (field.type_id) {
            case kSchemaBoolean:
                if (save) {
                    Wrote(s.WriteBool(section, key, at[0], location_));
                } else {
                    // A missing value gives back the byte itself, which stays as it was even
                    // when it is neither 0 nor 1.
                    const int32_t value = s.ReadBool(section, key, at[0], location_);
                    if (value != at[0]) {
                        at[0] = value == 1 ? 1 : 0;
                    }
                }
                break;
            case kSchemaBOOL:
                if (save) {
                    Wrote(s.WriteBool(section, key, Get<int32_t>(at), location_));
                } else {
                    Put(at, s.ReadBool(section, key, Get<int32_t>(at), location_));
                }
                break;
            case kSchemaCHAR:
            case kSchemaINT8:
                if (save) {
                    Wrote(s.WriteInt(section, key, Get<int8_t>(at), location_));
                } else {
                    Put(at,
                        static_cast<uint8_t>(s.ReadInt(section, key, Get<int8_t>(at), location_)));
                }
                break;
            case kSchemaSHORT:
                if (save) {
                    Wrote(s.WriteInt(section, key, Get<int16_t>(at), location_));
                } else {
                    Put(at, static_cast<uint16_t>(
                                s.ReadInt(section, key, Get<int16_t>(at), location_)));
                }
                break;
            case kSchemaINT16:
                if (save) {
                    Wrote(s.WriteInt(section, key, Get<uint16_t>(at), location_));
                } else {
                    Put(at, static_cast<uint16_t>(
                                s.ReadInt(section, key, Get<uint16_t>(at), location_)));
                }
                break;
            case kSchemaINT:
            case kSchemaINT32:
            case kSchemaLONG:
            case kSchemaLONG32:
                if (save) {
                    Wrote(s.WriteInt(section, key, Get<int32_t>(at), location_));
                } else {
                    Put(at, s.ReadInt(section, key, Get<int32_t>(at), location_));
                }
                break;
            case kSchemaUCHAR:
            case kSchemaUINT8:
            case kSchemaBYTE:
                if (save) {
                    Wrote(s.WriteUInt(section, key, Get<uint8_t>(at), location_));
                } else {
                    Put(at, static_cast<uint8_t>(
                                s.ReadUInt(section, key, Get<uint8_t>(at), location_)));
                }
                break;
            case kSchemaWCHAR:
            case kSchemaTCHAR:
            case kSchemaUSHORT:
            case kSchemaUINT16:
            case kSchemaWORD:
                if (save) {
                    Wrote(s.WriteUInt(section, key, Get<uint16_t>(at), location_));
                } else {
                    Put(at, static_cast<uint16_t>(
                                s.ReadUInt(section, key, Get<uint16_t>(at), location_)));
                }
                break;
            case kSchemaUINT:
            case kSchemaUINT32:
            case kSchemaULONG:
            case kSchemaULONG32:
            case kSchemaDWORD:
                if (save) {
                    Wrote(s.WriteUInt(section, key, Get<uint32_t>(at), location_));
                } else {
                    Put(at, s.ReadUInt(section, key, Get<uint32_t>(at), location_));
                }
                break;
            case kSchemaINT64:
            case kSchemaLONG64:
            case kSchemaLONGLONG:
                if (save) {
                    Wrote(s.WriteInt64(section, key, Get<int64_t>(at), location_));
                } else {
                    Put(at, s.ReadInt64(section, key, Get<int64_t>(at), location_));
                }
                break;
            case kSchemaUINT64:
            case kSchemaULONG64:
            case kSchemaULONGLONG:
                if (save) {
                    Wrote(s.WriteUInt64(section, key, Get<uint64_t>(at), location_));
                } else {
                    Put(at, s.ReadUInt64(section, key, Get<uint64_t>(at), location_));
                }
                break;
            case kSchemaFLOAT:
                if (save) {
                    Wrote(s.WriteDouble(section, key, Get<float>(at), location_));
                } else {
                    const double value = s.ReadDouble(section, key, Get<float>(at), location_);
                    if (!SameDouble(value, Get<float>(at))) {
                        Put(at, Narrow(value));
                    }
                }
                break;
            case kSchemaDOUBLE:
                if (save) {
                    Wrote(s.WriteDouble(section, key, Get<double>(at), location_));
                } else {
                    const double value = s.ReadDouble(section, key, Get<double>(at), location_);
                    if (!SameDouble(value, Get<double>(at))) {
                        Put(at, value);
                    }
                }
                break;
            case kSchemaPointer:
                if (save) {
                    Wrote(s.WritePointer(section, key, Get<uint32_t>(at), location_));
                } else {
                    // The slot is 4 bytes: a stored value that does not fit is refused.
                    const uint64_t value =
                        s.ReadPointer(section, key, Get<uint32_t>(at), location_);
                    if (value <= UINT32_MAX) {
                        Put(at, static_cast<uint32_t>(value));
                    }
                }
                break;
            case kSchemaWSTR:
            case kSchemaTSTR:
                WideText(section, key, at, field.count);
                break;
            case kSchemaSTR:
                AnsiText(section, key, at, field.count);
                break;
            case kSchemaMem:
                if (save) {
                    Wrote(s.WriteBytes(section, key, at, field.count, location_, 1));
                } else {
                    int32_t length = field.count;
                    s.ReadBytes(section, key, at, &length, location_, 1);
                }
                break;
            case kSchemaStruct: {
                std::u16string nested = section_text;
                nested += u'_';
                nested += key_text;
                nested = CutName(std::move(nested), kStructSectionUnits);
                BindParsed(nested, at, field.element_size, *nested_schema, depth + 1);
                break;
            }
            default:
                break;
        }
    }

    // Texts pass through a terminated, aligned copy: the field may lack a terminator and may
    // sit at an odd address.
    void WideText(const char16_t* section, const char16_t* key, uint8_t* at, int32_t count) {
        const std::u16string current = FieldText(at, count);
        if (mode_ == Mode::kSave) {
            Wrote(store_.WriteString(section, key, current.c_str(), location_));
            return;
        }
        std::u16string buffer(static_cast<size_t>(count), u'\0');
        store_.ReadString(section, key, current.c_str(), buffer.data(), count, location_);
        buffer[buffer.size() - 1] = u'\0';
        const size_t length = TextLength(buffer.c_str());
        // The default coming back leaves the field as it was, bytes after its end included
        // (and a field without a terminator keeps lacking one rather than losing a unit).
        std::u16string expected(static_cast<size_t>(count), u'\0');
        const int32_t expected_length = CopyTextBounded(expected.data(), count, current);
        if (std::u16string_view(buffer.data(), length) ==
            std::u16string_view(expected.data(), static_cast<size_t>(expected_length))) {
            return;
        }
        std::memcpy(at, buffer.data(), (length + 1) * 2);
    }

    void AnsiText(const char16_t* section, const char16_t* key, uint8_t* at, int32_t count) {
        const std::string current = FieldTextA(at, count);
        if (mode_ == Mode::kSave) {
            Wrote(store_.WriteStringA(section, key, current.c_str(), location_));
            return;
        }
        std::string buffer(static_cast<size_t>(count), '\0');
        store_.ReadStringA(section, key, current.c_str(), buffer.data(), count, location_);
        buffer[buffer.size() - 1] = '\0';
        const size_t length = std::strlen(buffer.c_str());
        // The default makes a round trip through UTF-16, which can change bytes the code page
        // does not know; when what came back is that round trip, the field stays as it was.
        std::string round_trip(static_cast<size_t>(count), '\0');
        std::u16string wide = kem::platform::AnsiToWide(current);
        wide.resize(std::min(wide.size(), static_cast<size_t>(count)));
        std::u16string cut(static_cast<size_t>(count), u'\0');
        const int32_t cut_length = CopyTextBounded(cut.data(), count, wide);
        CopyTextBoundedAnsi(round_trip.data(), count,
                            std::u16string_view(cut.data(), static_cast<size_t>(cut_length)));
        if (std::string_view(buffer.data(), length) == std::string_view(round_trip.c_str())) {
            return;
        }
        std::memcpy(at, buffer.data(), length + 1);
    }

    // Notes a store write; one that failed makes the whole save fail.
    void Wrote(int32_t result) {
        if (result == 0) {
            write_failed_ = true;
        }
    }

    CKemProfileBaseClass& store_;
    Mode mode_;
    bool write_failed_ = false;
    const char16_t* location_;
    const char16_t* item_separator_;
    const char16_t* field_separator_;
    // Nested schemas are always parsed with "{" and "}"; these are kept only to be handed on,
    // as the stores' interface passes them.
    [[maybe_unused]] const char16_t* open_brace_;
    [[maybe_unused]] const char16_t* close_brace_;
};

int32_t BindRecord(CKemProfileBaseClass& store, Mode mode, const char16_t* section, void* record,
                   const char16_t* schema, const char16_t* location, const char16_t* item_separator,
                   const char16_t* field_separator, const char16_t* open_brace,
                   const char16_t* close_brace) {
    if (record == nullptr || schema == nullptr) {
        return -1;
    }
    const int64_t size = SchemaRecordSize(schema, item_separator, field_separator, 0);
    if (size < 0) {
        return -1;
    }
    Binder binder(store, mode, location, item_separator, field_separator, open_brace, close_brace);
    const std::u16string top = section == nullptr ? std::u16string() : std::u16string(section);
    const int64_t bytes = binder.Bind(top, static_cast<uint8_t*>(record), size, schema, 0);
    if (binder.write_failed()) {
        return -1;
    }
    return static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
}

}  // namespace

int32_t SaveRecord(CKemProfileBaseClass& store, const char16_t* section, const void* record,
                   const char16_t* schema, const char16_t* location, const char16_t* item_separator,
                   const char16_t* field_separator, const char16_t* open_brace,
                   const char16_t* close_brace) {
    // Saving only reads the record; the binder's write paths belong to loading.
    return BindRecord(store, Mode::kSave, section, const_cast<void*>(record), schema, location,
                      item_separator, field_separator, open_brace, close_brace);
}

int32_t LoadRecord(CKemProfileBaseClass& store, const char16_t* section, void* record,
                   const char16_t* schema, const char16_t* location, const char16_t* item_separator,
                   const char16_t* field_separator, const char16_t* open_brace,
                   const char16_t* close_brace) {
    return BindRecord(store, Mode::kLoad, section, record, schema, location, item_separator,
                      field_separator, open_brace, close_brace);
}

}  // namespace kem::settings
