#include "settings/schema.h"

#include <gtest/gtest.h>

#include <string>

#include "debug_capture.h"
#include "platform/code_page.h"
#include "settings/app_config.h"

namespace {

using kem::settings::FindSchemaType;
using kem::settings::SchemaRecordSize;
using kem::settings::SchemaTypeTable;

std::string Utf8(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

// Parses with the separators this program uses and frees on destruction.
class Parsed {
public:
    explicit Parsed(const char16_t* schema)
        : count_(kem::settings::ParseSchema(&fields_, schema, u"|", u",", u"{", u"}")) {}
    ~Parsed() { kem::settings::FreeSchema(&fields_, count_); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    int32_t count() const { return count_; }
    const SchemaField& operator[](int i) const { return fields_[i]; }
    std::u16string name(int i) const { return fields_[i].name; }
    std::u16string nested(int i) const {
        return fields_[i].nested_schema ? std::u16string(fields_[i].nested_schema.get()) : u"";
    }

private:
    SchemaField* fields_ = nullptr;
    int32_t count_ = 0;
};

struct TypeRow {
    const char16_t* name;
    int32_t id;
    int32_t element_size;
    int32_t count;
    int32_t total_size;
};

// The whole table: every row's id, widths and defaults.
constexpr TypeRow kExpectedTypes[] = {
    {u"Unknow", 0, 0, 0, 0},     {u"Skip", 1, 1, 0, 0},     {u"Boolean", 2, 1, 1, 1},
    {u"CHAR", 3, 1, 1, 1},       {u"UCHAR", 4, 1, 1, 1},    {u"WCHAR", 5, 2, 1, 2},
    {u"TCHAR", 6, 2, 1, 2},      {u"BOOL", 7, 4, 1, 4},     {u"SHORT", 8, 2, 1, 2},
    {u"USHORT", 9, 2, 1, 2},     {u"INT", 10, 4, 1, 4},     {u"INT8", 11, 1, 1, 1},
    {u"INT16", 12, 2, 1, 2},     {u"INT32", 13, 4, 1, 4},   {u"INT64", 14, 8, 1, 8},
    {u"UINT", 15, 4, 1, 4},      {u"UINT8", 16, 1, 1, 1},   {u"UINT16", 17, 2, 1, 2},
    {u"UINT32", 18, 4, 1, 4},    {u"UINT64", 19, 8, 1, 8},  {u"LONG", 20, 4, 1, 4},
    {u"LONG32", 21, 4, 1, 4},    {u"LONG64", 22, 8, 1, 8},  {u"ULONG", 23, 4, 1, 4},
    {u"ULONG32", 24, 4, 1, 4},   {u"ULONG64", 25, 8, 1, 8}, {u"LONGLONG", 26, 8, 1, 8},
    {u"ULONGLONG", 27, 8, 1, 8}, {u"BYTE", 28, 1, 1, 1},    {u"WORD", 29, 2, 1, 2},
    {u"DWORD", 30, 4, 1, 4},     {u"FLOAT", 31, 4, 1, 4},   {u"DOUBLE", 32, 8, 1, 8},
    {u"Pointer", 33, 4, 1, 4},   {u"STR", 34, 1, 0, 0},     {u"WSTR", 35, 2, 0, 0},
    {u"TSTR", 36, 2, 0, 0},      {u"Mem", 37, 1, 0, 0},     {u"Struct", 38, 0, 1, 0},
    {u"LPStruct", 39, 4, 1, 4},
};

TEST(SchemaTypeTable, EveryRowMatchesItsIdAndWidths) {
    static_assert(std::size(kExpectedTypes) == kSchemaTypeCount);
    const SchemaTypeEntry* table = SchemaTypeTable();
    for (const TypeRow& row : kExpectedTypes) {
        const SchemaTypeEntry& entry = table[row.id];
        SCOPED_TRACE(Utf8(row.name));
        EXPECT_EQ(std::u16string(entry.name), row.name);
        EXPECT_EQ(entry.type_id, row.id);
        EXPECT_EQ(entry.element_size, row.element_size);
        EXPECT_EQ(entry.count, row.count);
        EXPECT_EQ(entry.total_size, row.total_size);
    }
}

TEST(FindSchemaType, IgnoresAsciiCaseOnly) {
    ASSERT_NE(FindSchemaType(u"bool"), nullptr);
    EXPECT_EQ(FindSchemaType(u"bool")->type_id, kSchemaBOOL);
    EXPECT_EQ(FindSchemaType(u"STRUCT")->type_id, kSchemaStruct);
    EXPECT_EQ(FindSchemaType(u"tStR")->type_id, kSchemaTSTR);
    EXPECT_EQ(FindSchemaType(u"BOOLEAN")->type_id, kSchemaBoolean);
    EXPECT_EQ(FindSchemaType(u"BOO"), nullptr);
    EXPECT_EQ(FindSchemaType(u"BOOLx"), nullptr);
    EXPECT_EQ(FindSchemaType(u""), nullptr);
}

TEST(ParseSchema, NullInputsGiveNothing) {
    SchemaField* fields = reinterpret_cast<SchemaField*>(1);
    EXPECT_EQ(kem::settings::ParseSchema(&fields, nullptr, u"|", u",", u"{", u"}"), 0);
    EXPECT_EQ(fields, nullptr);
    EXPECT_EQ(kem::settings::ParseSchema(nullptr, u"|a,INT", u"|", u",", u"{", u"}"), 0);
}

TEST(ParseSchema, LeadingTabAllows128Items) {
    std::u16string schema = u"\t";
    for (int i = 0; i < 130; ++i) {
        schema += u"|F" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u",INT";
    }
    Parsed parsed(schema.c_str());
    EXPECT_EQ(parsed.count(), 128);
    EXPECT_EQ(parsed[127].type_id, kSchemaINT);
}

TEST(ParseSchema, LeadingNumberLimitsItems) {
    Parsed parsed(u"3|a,INT|b,INT|c,INT|d,INT|e,INT");
    ASSERT_EQ(parsed.count(), 3);
    EXPECT_EQ(parsed.name(2), u"c");
}

TEST(ParseSchema, ZeroOrNegativeMaximumMeans128) {
    Parsed zero(u"0|a,INT|b,INT");
    EXPECT_EQ(zero.count(), 2);
    Parsed negative(u" -4|a,INT|b,INT");
    EXPECT_EQ(negative.count(), 2);
}

TEST(ParseSchema, HugeMaximumDoesNotAllocateForIt) {
    Parsed parsed(u"2147483647|a,INT|b,BOOL");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed[1].type_id, kSchemaBOOL);
}

TEST(ParseSchema, BlanksAroundNamesTypesAndModifiersAreIgnored) {
    Parsed parsed(u"\r\n| \t Name \n,\t tstr \r, c32 \t|Next,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed.name(0), u"Name");
    EXPECT_EQ(parsed[0].type_id, kSchemaTSTR);
    EXPECT_EQ(parsed[0].count, 32);
    EXPECT_EQ(parsed[0].total_size, 64);
    EXPECT_EQ(parsed.name(1), u"Next");
}

TEST(ParseSchema, LowerCaseBoolIsBOOL) {
    Parsed parsed(u"|Flag,bool");
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_EQ(parsed[0].type_id, 7);
    EXPECT_EQ(parsed[0].total_size, 4);
}

TEST(ParseSchema, SkipOccupiesItsCountOnly) {
    Parsed parsed(u"|Gap,Skip,c6|None,Skip");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed[0].total_size, 6);
    EXPECT_EQ(parsed[1].total_size, 0);
}

TEST(ParseSchema, TextNeedsACount) {
    Parsed parsed(u"|A,TSTR|B,TSTR,c64|C,STR,c10|D,Mem,c5|E,WSTR,C3");
    ASSERT_EQ(parsed.count(), 5);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_EQ(parsed[1].total_size, 128);
    EXPECT_EQ(parsed[2].total_size, 10);
    EXPECT_EQ(parsed[3].total_size, 5);
    EXPECT_EQ(parsed[4].total_size, 6);
}

TEST(ParseSchema, CountZeroIsReportedAndLeavesZero) {
    DebugCapture debug;
    Parsed parsed(u"|A,INT,c0|B,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed[0].count, 0);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_TRUE(debug.Contains("c0|B,INT")) << debug.text();
}

TEST(ParseSchema, NegativeCountIsReportedAndLeavesZero) {
    DebugCapture debug;
    Parsed parsed(u"|A,INT,c-3");
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_EQ(parsed[0].count, 0);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_TRUE(debug.Contains("c-3")) << debug.text();
}

TEST(ParseSchema, SizeModifiers) {
    Parsed parsed(u"|A,INT,c3,b2|B,INT,n16|C,INT,n16,c2|D,INT,c2,n3|E,WORD,B4");
    ASSERT_EQ(parsed.count(), 5);
    EXPECT_EQ(parsed[0].element_size, 2);
    EXPECT_EQ(parsed[0].total_size, 6);
    EXPECT_EQ(parsed[1].total_size, 16);
    EXPECT_EQ(parsed[2].total_size, 8);  // a later c recomputes
    EXPECT_EQ(parsed[3].total_size, 3);
    EXPECT_EQ(parsed[4].element_size, 4);
    EXPECT_EQ(parsed[4].total_size, 4);
}

TEST(ParseSchema, ShortOrUnknownModifiersAreIgnored) {
    DebugCapture debug;
    Parsed parsed(u"|A,INT,c,x9,,z|B,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed[0].count, 1);
    EXPECT_EQ(parsed[0].total_size, 4);
    EXPECT_EQ(debug.text(), "");
}

TEST(ParseSchema, TooLargeSizeIsReportedAndRefused) {
    DebugCapture debug;
    Parsed parsed(u"|Big,Mem,c2000000000|Huge,INT,c300000000");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_EQ(parsed[1].total_size, 0);
    EXPECT_EQ(parsed[1].count, 0);
    EXPECT_TRUE(debug.Contains("c2000000000")) << debug.text();
    EXPECT_TRUE(debug.Contains("c300000000")) << debug.text();
}

TEST(ParseSchema, StructureWithNestedSchemaIsOneItem) {
    Parsed parsed(u"|Pt,STRUCT,s{|A,INT|B,INT},c2|Next,BOOL");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed.name(0), u"Pt");
    EXPECT_EQ(parsed[0].type_id, kSchemaStruct);
    EXPECT_EQ(parsed.nested(0), u"|A,INT|B,INT");
    EXPECT_EQ(parsed[0].count, 2);
    EXPECT_EQ(parsed.name(1), u"Next");
}

TEST(ParseSchema, NestedBracesBelongToTheOuterItem) {
    Parsed parsed(u"|A,Struct,s{|B,Struct,s{|C,INT}|D,INT}|E,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed.nested(0), u"|B,Struct,s{|C,INT}|D,INT");
    EXPECT_EQ(parsed.name(1), u"E");
}

TEST(ParseSchema, BlankBetweenSAndBraceIsReported) {
    DebugCapture debug;
    Parsed parsed(u"|Pt,Struct,s {|A,INT}");
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_FALSE(parsed[0].nested_schema);
    EXPECT_TRUE(debug.Contains("s {|A,INT}")) << debug.text();
}

TEST(ParseSchema, EmptyBracesAreReported) {
    DebugCapture debug;
    Parsed parsed(u"|Pt,Struct,s{}");
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_FALSE(parsed[0].nested_schema);
    EXPECT_TRUE(debug.Contains("s{}")) << debug.text();
}

TEST(ParseSchema, ItemWithoutFieldSeparatorIsEmptyButCounts) {
    DebugCapture debug;
    Parsed parsed(u"2|abc|x,INT|y,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed.name(0), u"");
    EXPECT_EQ(parsed[0].type_id, kSchemaUnknow);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_EQ(parsed.name(1), u"x");
    EXPECT_TRUE(debug.Contains("abc|x,INT|y,INT")) << debug.text();
}

TEST(ParseSchema, UnknownTypeIsReportedAndOccupiesNothing) {
    DebugCapture debug;
    Parsed parsed(u"|A,Widget,c4|B,INT");
    ASSERT_EQ(parsed.count(), 2);
    EXPECT_EQ(parsed.name(0), u"A");
    EXPECT_EQ(parsed[0].type_id, 0);
    EXPECT_EQ(parsed[0].element_size, 0);
    EXPECT_EQ(parsed[0].total_size, 0);
    EXPECT_TRUE(debug.Contains("Widget,c4|B,INT")) << debug.text();
}

TEST(ParseSchema, TrailingSeparatorEndsTheParse) {
    Parsed parsed(u"|A,INT|");
    EXPECT_EQ(parsed.count(), 1);
    Parsed none(u"no items here");
    EXPECT_EQ(none.count(), 0);
}

TEST(ParseSchema, LongNameIsCutAndReported) {
    DebugCapture debug;
    const std::u16string name(200, u'n');
    Parsed parsed((u"|" + name + u",INT").c_str());
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_EQ(parsed.name(0), name.substr(0, 127));
    EXPECT_FALSE(debug.text().empty());
}

TEST(ParseSchema, OtherSeparatorsAndBraces) {
    SchemaField* fields = nullptr;
    const int32_t count = kem::settings::ParseSchema(&fields, u";A:INT:c2;B:Struct:s<;X:INT>", u";",
                                                     u":", u"<", u">");
    ASSERT_EQ(count, 2);
    EXPECT_EQ(fields[0].total_size, 8);
    ASSERT_TRUE(fields[1].nested_schema);
    EXPECT_EQ(std::u16string(fields[1].nested_schema.get()), u";X:INT");
    kem::settings::FreeSchema(&fields, count);
    EXPECT_EQ(fields, nullptr);
}

TEST(SchemaRecordSize, SumsItemsAndSizesStructures) {
    EXPECT_EQ(SchemaRecordSize(u"|Pt,STRUCT,s{|X,INT|Y,INT},c2", u"|", u","), 16);
    EXPECT_EQ(SchemaRecordSize(u"|A,INT|B,Skip,c3|C,TSTR,c4", u"|", u","), 4 + 3 + 8);
    EXPECT_EQ(SchemaRecordSize(u"", u"|", u","), 0);
    EXPECT_EQ(SchemaRecordSize(nullptr, u"|", u","), -1);
    EXPECT_EQ(SchemaRecordSize(kAppConfigSchema, u"|", u","), kAppConfigBytes);
}

TEST(SchemaRecordSize, RefusesTooDeepNesting) {
    DebugCapture debug;
    std::u16string schema = u"|V,INT";
    for (int i = 0; i < kem::settings::kSchemaMaxDepth + 2; ++i) {
        schema = u"|S,Struct,s{" + schema + u"}";
    }
    EXPECT_EQ(SchemaRecordSize(schema.c_str(), u"|", u","), -1);
    std::u16string shallow = u"|V,INT";
    for (int i = 0; i < kem::settings::kSchemaMaxDepth; ++i) {
        shallow = u"|S,Struct,s{" + shallow + u"}";
    }
    EXPECT_EQ(SchemaRecordSize(shallow.c_str(), u"|", u","), 4);
}

TEST(SchemaRecordSize, RefusesRecordsLargerThanTheLimit) {
    DebugCapture debug;
    EXPECT_EQ(SchemaRecordSize(u"|A,Mem,c600000000|B,Mem,c600000000", u"|", u","), -1);
    EXPECT_EQ(SchemaRecordSize(u"|S,Struct,s{|M,Mem,c1000000},c5000", u"|", u","), -1);
}

TEST(ParseSchema, ApplicationSchemaHas45Items) {
    Parsed parsed(kAppConfigSchema);
    ASSERT_EQ(parsed.count(), 45);
    EXPECT_EQ(parsed.name(0), u"System");
    EXPECT_EQ(parsed[0].type_id, kSchemaStruct);
    EXPECT_EQ(parsed.nested(0), u"1|AutoSave,BOOL");
    EXPECT_EQ(parsed.name(29), u"CustomEntries");
    Parsed entries(parsed.nested(29).c_str());
    ASSERT_EQ(entries.count(), 18);
    EXPECT_EQ(entries.name(17), u"EntriesData17");
    EXPECT_EQ(entries[17].total_size, 1024);
    EXPECT_EQ(parsed.name(44), u"LogSaveAllChannelMergeContinue");
}

}  // namespace
