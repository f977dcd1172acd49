// The schema language that describes a packed memory record as named, typed items, and its
// parser. A schema text is an optional leading maximum item count followed by items
// "|name,type[,modifier]..." with the modifiers cN (count), bN (element size), nN (total size)
// and s{...} (nested schema of a structure item).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Type ids: rows of the built-in type table.
enum SchemaTypeId : int32_t {
    kSchemaUnknow = 0,
    kSchemaSkip,
    kSchemaBoolean,
    kSchemaCHAR,
    kSchemaUCHAR,
    kSchemaWCHAR,
    kSchemaTCHAR,
    kSchemaBOOL,
    kSchemaSHORT,
    kSchemaUSHORT,
    kSchemaINT,
    kSchemaINT8,
    kSchemaINT16,
    kSchemaINT32,
    kSchemaINT64,
    kSchemaUINT,
    kSchemaUINT8,
    kSchemaUINT16,
    kSchemaUINT32,
    kSchemaUINT64,
    kSchemaLONG,
    kSchemaLONG32,
    kSchemaLONG64,
    kSchemaULONG,
    kSchemaULONG32,
    kSchemaULONG64,
    kSchemaLONGLONG,
    kSchemaULONGLONG,
    kSchemaBYTE,
    kSchemaWORD,
    kSchemaDWORD,
    kSchemaFLOAT,
    kSchemaDOUBLE,
    kSchemaPointer,
    kSchemaSTR,
    kSchemaWSTR,
    kSchemaTSTR,
    kSchemaMem,
    kSchemaStruct,
    kSchemaLPStruct,
};

constexpr int32_t kSchemaTypeCount = 40;
constexpr int32_t kSchemaNameUnits = 128;        // name capacity, terminator included
constexpr int32_t kSchemaDefaultMaxItems = 128;  // when the text gives no positive maximum

// One row of the type table.
struct SchemaTypeEntry {
    const char16_t* name;
    int32_t type_id;
    int32_t element_size;
    int32_t count;
    int32_t total_size;
};

// One parsed schema item. A value-initialised record is "empty": no name, type 0, sizes 0.
struct SchemaField {
    char16_t name[kSchemaNameUnits] = {};
    int32_t type_id = kSchemaUnknow;
    int32_t element_size = 0;
    int32_t count = 0;
    int32_t total_size = 0;
    std::unique_ptr<char16_t[]> nested_schema;  // owned; structure items only
};

namespace kem::settings {

// The 40 rows, indexed by type id. Pointer and LPStruct are 4 bytes wide: the record layout
// is fixed and stored files rely on it.
const SchemaTypeEntry* SchemaTypeTable();

// The row whose name equals `name` without regard to ASCII case, or null.
const SchemaTypeEntry* FindSchemaType(std::u16string_view name);

// Parses `schema` into a new array of SchemaField records (room for the maximum item count)
// stored in `*out`; returns the number of meaningful records. 0 (and `*out` null) when `out`
// or `schema` is null or the array cannot be allocated. Null or empty separators and braces
// select "|", ",", "{" and "}". Errors never stop the parse: each is written to the debug
// output (the rest of the schema from the offending token on) and the item keeps what was
// recognised. A count, element size or total size below 1, or a size product above
// kSchemaMaxBytes, is such an error and leaves that value 0. Any thread.
int32_t ParseSchema(SchemaField** out, const char16_t* schema, const char16_t* item_separator,
                    const char16_t* field_separator, const char16_t* open_brace,
                    const char16_t* close_brace);

// Releases an array from ParseSchema (with its nested schema texts) and nulls `*fields`.
// `count` is not needed to release it and is accepted for symmetry. Null is allowed.
void FreeSchema(SchemaField** fields, int32_t count);

// Gives a structure item without an explicit size its sizes: element size from the nested
// schema (SchemaRecordSize at `depth` + 1) and total size = element size x count. Other items
// are left alone. False when the nested schema is unusable or the product too large.
bool ResolveStructField(SchemaField& field, const char16_t* item_separator,
                        const char16_t* field_separator, int depth);

// Largest record size, in bytes, a schema may describe; larger sizes are schema errors.
constexpr int64_t kSchemaMaxBytes = int64_t{1} << 30;

// Deepest nesting of structure items that is followed; deeper ones are schema errors.
constexpr int kSchemaMaxDepth = 16;

// Size in bytes of the record `schema` describes: the sum of its items' total sizes, with a
// structure item without an explicit size sized by its nested schema times its count.
// -1 when `schema` is null, nests deeper than kSchemaMaxDepth or exceeds kSchemaMaxBytes.
// `depth` is the nesting level of `schema` (0 for a top-level schema). Any thread.
int64_t SchemaRecordSize(const char16_t* schema, const char16_t* item_separator,
                         const char16_t* field_separator, int depth = 0);

}  // namespace kem::settings
