// Moving a whole packed memory record to or from a settings store through a schema: each
// item becomes one or more named values, nested structures become sections of their own.
#pragma once

#include <cstdint>

#include "settings/profile_base.h"

namespace kem::settings {

// Key names are cut to this many units, section names to the second.
constexpr int32_t kStructKeyUnits = 159;
constexpr int32_t kStructSectionUnits = 287;

// Writes the record at `record`, laid out by `schema`, to `store`: top-level values under
// `section`, a structure element under "<section>_<stored name>". The schema is parsed with
// "{" and "}"; `open_brace` and `close_brace` are accepted for the nested calls' sake.
// Result: -1 when `record` or `schema` is null or the schema as a whole is unusable (nesting
// deeper than kSchemaMaxDepth, a record larger than kSchemaMaxBytes); 0 when it has no item;
// else the number of record bytes processed. Only the bytes the schema describes
// (SchemaRecordSize) are touched; an element outside them is reported and left alone. A store
// write that fails makes the result -1, after every other value was still written, so a
// failed save is never taken for a successful one. Thread of the store.
int32_t SaveRecord(CKemProfileBaseClass& store, const char16_t* section, const void* record,
                   const char16_t* schema, const char16_t* location, const char16_t* item_separator,
                   const char16_t* field_separator, const char16_t* open_brace,
                   const char16_t* close_brace);

// Reads the record from `store`, each value with the field's current content as its default,
// so a value missing from the store leaves its field unchanged. Results as SaveRecord.
int32_t LoadRecord(CKemProfileBaseClass& store, const char16_t* section, void* record,
                   const char16_t* schema, const char16_t* location, const char16_t* item_separator,
                   const char16_t* field_separator, const char16_t* open_brace,
                   const char16_t* close_brace);

}  // namespace kem::settings
