#include "settings/schema.h"

#include <algorithm>
#include <new>
#include <string>

#include "platform/ascii_case.h"
#include "platform/code_page.h"
#include "platform/debug_sink.h"

namespace kem::settings {
namespace {

constexpr SchemaTypeEntry kTypes[kSchemaTypeCount] = {
    {u"Unknow", kSchemaUnknow, 0, 0, 0},     {u"Skip", kSchemaSkip, 1, 0, 0},
    {u"Boolean", kSchemaBoolean, 1, 1, 1},   {u"CHAR", kSchemaCHAR, 1, 1, 1},
    {u"UCHAR", kSchemaUCHAR, 1, 1, 1},       {u"WCHAR", kSchemaWCHAR, 2, 1, 2},
    {u"TCHAR", kSchemaTCHAR, 2, 1, 2},       {u"BOOL", kSchemaBOOL, 4, 1, 4},
    {u"SHORT", kSchemaSHORT, 2, 1, 2},       {u"USHORT", kSchemaUSHORT, 2, 1, 2},
    {u"INT", kSchemaINT, 4, 1, 4},           {u"INT8", kSchemaINT8, 1, 1, 1},
    {u"INT16", kSchemaINT16, 2, 1, 2},       {u"INT32", kSchemaINT32, 4, 1, 4},
    {u"INT64", kSchemaINT64, 8, 1, 8},       {u"UINT", kSchemaUINT, 4, 1, 4},
    {u"UINT8", kSchemaUINT8, 1, 1, 1},       {u"UINT16", kSchemaUINT16, 2, 1, 2},
    {u"UINT32", kSchemaUINT32, 4, 1, 4},     {u"UINT64", kSchemaUINT64, 8, 1, 8},
    {u"LONG", kSchemaLONG, 4, 1, 4},         {u"LONG32", kSchemaLONG32, 4, 1, 4},
    {u"LONG64", kSchemaLONG64, 8, 1, 8},     {u"ULONG", kSchemaULONG, 4, 1, 4},
    {u"ULONG32", kSchemaULONG32, 4, 1, 4},   {u"ULONG64", kSchemaULONG64, 8, 1, 8},
    {u"LONGLONG", kSchemaLONGLONG, 8, 1, 8}, {u"ULONGLONG", kSchemaULONGLONG, 8, 1, 8},
    {u"BYTE", kSchemaBYTE, 1, 1, 1},         {u"WORD", kSchemaWORD, 2, 1, 2},
    {u"DWORD", kSchemaDWORD, 4, 1, 4},       {u"FLOAT", kSchemaFLOAT, 4, 1, 4},
    {u"DOUBLE", kSchemaDOUBLE, 8, 1, 8},     {u"Pointer", kSchemaPointer, 4, 1, 4},
    {u"STR", kSchemaSTR, 1, 0, 0},           {u"WSTR", kSchemaWSTR, 2, 0, 0},
    {u"TSTR", kSchemaTSTR, 2, 0, 0},         {u"Mem", kSchemaMem, 1, 0, 0},
    {u"Struct", kSchemaStruct, 0, 1, 0},     {u"LPStruct", kSchemaLPStruct, 4, 1, 4},
};

constexpr std::u16string_view kBlanks = u" \t\n\r";

using kem::platform::AsciiLower;
using kem::platform::EqualsIgnoringAsciiCase;

// Offsets of the trimmed part of text[begin, end).
void Trim(std::u16string_view text, size_t* begin, size_t* end) {
    while (*begin < *end && kBlanks.find(text[*begin]) != std::u16string_view::npos) {
        ++*begin;
    }
    while (*end > *begin && kBlanks.find(text[*end - 1]) != std::u16string_view::npos) {
        --*end;
    }
}

// A decimal number as a C library text-to-long conversion reads it from the start of `text`:
// leading white space, an optional sign, digits; saturated to the 32-bit range; 0 without
// digits.
int64_t LeadingDecimal(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - u'0'), int64_t{INT32_MAX} + 1);
    }
    value = negative ? -value : value;
    return std::clamp<int64_t>(value, INT32_MIN, INT32_MAX);
}

// Schema errors go to the debug output: the rest of the schema from the offending place on.
void Report(std::u16string_view text, size_t from) {
    std::string line = kem::platform::WideToUtf8(text.substr(std::min(from, text.size())));
    line += '\n';
    kem::platform::DebugOutput(line);
}

std::u16string_view OrDefault(const char16_t* text, std::u16string_view fallback) {
    return (text == nullptr || *text == u'\0') ? fallback : std::u16string_view(text);
}

// total = count x element size, refused when the product is out of range.
void SetProduct(SchemaField& field, std::u16string_view text, size_t from) {
    const int64_t total = int64_t{field.count} * field.element_size;
    if (total > kSchemaMaxBytes) {
        Report(text, from);
        field.count = 0;
        field.total_size = 0;
        return;
    }
    field.total_size = static_cast<int32_t>(total);
}

// A positive size value of a modifier, or 0 (reported) for anything else.
int32_t PositiveValue(std::u16string_view digits, std::u16string_view text, size_t from) {
    const int64_t value = LeadingDecimal(digits);
    if (value < 1 || value > kSchemaMaxBytes) {
        Report(text, from);
        return 0;
    }
    return static_cast<int32_t>(value);
}

// Where the item that starts at `start` (just after its separator) ends. Braces opened
// before the first following separator extend the item to the separator that follows the
// point where they balance.
size_t ItemEnd(std::u16string_view text, size_t start, std::u16string_view separator,
               std::u16string_view open, std::u16string_view close) {
    const size_t next = text.find(separator, start);
    const size_t first_end = next == std::u16string_view::npos ? text.size() : next;
    int64_t depth = 0;
    for (size_t i = start; i < first_end;) {
        if (text.compare(i, open.size(), open) == 0) {
            ++depth;
            i += open.size();
        } else if (text.compare(i, close.size(), close) == 0) {
            --depth;
            i += close.size();
        } else {
            ++i;
        }
    }
    if (depth <= 0) {
        return first_end;
    }
    for (size_t i = first_end; i < text.size();) {
        if (text.compare(i, open.size(), open) == 0) {
            ++depth;
            i += open.size();
        } else if (text.compare(i, close.size(), close) == 0) {
            --depth;
            i += close.size();
            if (depth == 0) {
                const size_t after = text.find(separator, i);
                return after == std::u16string_view::npos ? text.size() : after;
            }
        } else {
            ++i;
        }
    }
    return first_end;
}

// End of the token that starts at `from`: the next field separator before `item_end`, or
// `item_end`.
size_t TokenEnd(std::u16string_view text, size_t from, size_t item_end,
                std::u16string_view separator) {
    const size_t at = text.find(separator, from);
    return (at == std::u16string_view::npos || at + separator.size() > item_end) ? item_end : at;
}

void ApplyModifier(SchemaField& field, std::u16string_view text, size_t token_begin,
                   size_t token_end, size_t item_end, std::u16string_view field_separator,
                   std::u16string_view open, std::u16string_view close, size_t* next) {
    const std::u16string_view token = text.substr(token_begin, token_end - token_begin);
    const std::u16string_view rest = token.substr(1);
    switch (AsciiLower(token[0])) {
        case u'c':
            field.count = PositiveValue(rest, text, token_begin);
            SetProduct(field, text, token_begin);
            break;
        case u'b':
            field.element_size = PositiveValue(rest, text, token_begin);
            SetProduct(field, text, token_begin);
            break;
        case u'n':
            field.total_size = PositiveValue(rest, text, token_begin);
            break;
        case u's': {
            const std::u16string_view item = text.substr(0, item_end);
            const size_t last_close = item.rfind(close);
            const size_t inner = token_begin + 1 + open.size();
            if (text.compare(token_begin + 1, open.size(), open) != 0 ||
                last_close == std::u16string_view::npos || last_close < inner ||
                last_close <= token_begin + 2) {
                Report(text, token_begin);
                break;
            }
            const size_t length = last_close - inner;
            std::unique_ptr<char16_t[]> nested(new (std::nothrow) char16_t[length + 1]);
            if (!nested) {
                Report(text, token_begin);
                break;
            }
            std::copy_n(text.data() + inner, length, nested.get());
            nested[length] = u'\0';
            field.nested_schema = std::move(nested);
            *next = TokenEnd(text, last_close + close.size(), item_end, field_separator);
            break;
        }
        default:
            break;  // other letters are left for later modifiers
    }
}

void ParseItem(SchemaField& field, std::u16string_view text, size_t start, size_t item_end,
               std::u16string_view field_separator, std::u16string_view open,
               std::u16string_view close) {
    const size_t name_end = text.find(field_separator, start);
    if (name_end == std::u16string_view::npos || name_end + field_separator.size() > item_end) {
        Report(text, start);
        return;
    }
    size_t begin = start;
    size_t end = name_end;
    Trim(text, &begin, &end);
    if (end - begin >= static_cast<size_t>(kSchemaNameUnits)) {
        Report(text, begin);  // the name is cut; its stored key will differ
    }
    const size_t name_units = std::min(end - begin, static_cast<size_t>(kSchemaNameUnits - 1));
    size_t copy = name_units;
    if (copy < end - begin && copy > 0 && text[begin + copy - 1] >= 0xD800 &&
        text[begin + copy - 1] <= 0xDBFF) {
        --copy;  // never keep half a surrogate pair
    }
    std::copy_n(text.data() + begin, copy, field.name);
    field.name[copy] = u'\0';

    const size_t type_begin = name_end + field_separator.size();
    size_t type_end = TokenEnd(text, type_begin, item_end, field_separator);
    begin = type_begin;
    end = type_end;
    Trim(text, &begin, &end);
    if (const SchemaTypeEntry* type = FindSchemaType(text.substr(begin, end - begin))) {
        field.type_id = type->type_id;
        field.element_size = type->element_size;
        field.count = type->count;
        field.total_size = type->total_size;
    } else {
        Report(text, begin);
    }

    size_t cursor = type_end;
    while (cursor < item_end) {
        const size_t token_begin_raw = cursor + field_separator.size();
        size_t next = TokenEnd(text, token_begin_raw, item_end, field_separator);
        begin = token_begin_raw;
        end = next;
        Trim(text, &begin, &end);
        if (end - begin >= 2) {
            ApplyModifier(field, text, begin, end, item_end, field_separator, open, close, &next);
        }
        cursor = next;
    }
}

}  // namespace

const SchemaTypeEntry* SchemaTypeTable() {
    return kTypes;
}

const SchemaTypeEntry* FindSchemaType(std::u16string_view name) {
    for (const SchemaTypeEntry& entry : kTypes) {
        if (EqualsIgnoringAsciiCase(name, entry.name)) {
            return &entry;
        }
    }
    return nullptr;
}

int32_t ParseSchema(SchemaField** out, const char16_t* schema, const char16_t* item_separator,
                    const char16_t* field_separator, const char16_t* open_brace,
                    const char16_t* close_brace) {
    if (out == nullptr) {
        return 0;
    }
    *out = nullptr;
    if (schema == nullptr) {
        return 0;
    }
    const std::u16string_view text(schema);
    const std::u16string_view item_sep = OrDefault(item_separator, u"|");
    const std::u16string_view field_sep = OrDefault(field_separator, u",");
    const std::u16string_view open = OrDefault(open_brace, u"{");
    const std::u16string_view close = OrDefault(close_brace, u"}");

    int64_t maximum = LeadingDecimal(text);
    if (maximum < 1) {
        maximum = kSchemaDefaultMaxItems;
    }
    // No more items can exist than separators: a huge leading number must not turn into a
    // huge allocation.
    int64_t separators = 0;
    for (size_t at = text.find(item_sep); at != std::u16string_view::npos;
         at = text.find(item_sep, at + item_sep.size())) {
        ++separators;
    }
    const int64_t slots = std::max<int64_t>(1, std::min(maximum, separators));
    SchemaField* fields = new (std::nothrow) SchemaField[static_cast<size_t>(slots)]();
    if (fields == nullptr) {
        return 0;
    }
    *out = fields;

    int32_t index = 0;
    size_t position = text.find(item_sep);
    while (index < maximum) {
        if (position == std::u16string_view::npos || position + item_sep.size() >= text.size()) {
            break;
        }
        const size_t start = position + item_sep.size();
        const size_t item_end = ItemEnd(text, start, item_sep, open, close);
        ParseItem(fields[index], text, start, item_end, field_sep, open, close);
        ++index;
        position = item_end < text.size() ? item_end : std::u16string_view::npos;
    }
    return index;
}

void FreeSchema(SchemaField** fields, int32_t /*count*/) {
    if (fields == nullptr) {
        return;
    }
    delete[] * fields;
    *fields = nullptr;
}

bool ResolveStructField(SchemaField& field, const char16_t* item_separator,
                        const char16_t* field_separator, int depth) {
    if (field.type_id != kSchemaStruct || field.total_size != 0 || field.count == 0) {
        return true;
    }
    if (field.element_size == 0) {
        if (!field.nested_schema) {
            return true;  // no layout; the binding reports the item when it meets it
        }
        const int64_t nested =
            SchemaRecordSize(field.nested_schema.get(), item_separator, field_separator, depth + 1);
        if (nested < 0) {
            return false;
        }
        field.element_size = static_cast<int32_t>(nested);
    }
    const int64_t total = int64_t{field.element_size} * field.count;
    if (total > kSchemaMaxBytes) {
        Report(field.name, 0);
        return false;
    }
    field.total_size = static_cast<int32_t>(total);
    return true;
}

int64_t SchemaRecordSize(const char16_t* schema, const char16_t* item_separator,
                         const char16_t* field_separator, int depth) {
    if (schema == nullptr) {
        return -1;
    }
    if (depth > kSchemaMaxDepth) {
        Report(schema, 0);
        return -1;
    }
    SchemaField* fields = nullptr;
    const int32_t count = ParseSchema(&fields, schema, item_separator, field_separator, u"{", u"}");
    int64_t size = 0;
    for (int32_t i = 0; i < count && size >= 0; ++i) {
        if (!ResolveStructField(fields[i], item_separator, field_separator, depth)) {
            size = -1;
            break;
        }
        size += fields[i].total_size;
        if (size > kSchemaMaxBytes) {
            Report(schema, 0);
            size = -1;
        }
    }
    FreeSchema(&fields, count);
    return size;
}

}  // namespace kem::settings
