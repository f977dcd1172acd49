// The schema language: the type table, parsing items and their modifiers, malformed schemas
// reported on the debug output, and record sizes.
#include "settings/schema.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "debug_capture.h"
#include "platform/code_page.h"
#include "settings/app_config.h"

namespace {

using kem::settings::FindSchemaType;
using kem::settings::SchemaRecordSize;

std::string Utf8(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

// Every parsed item as "name,TYPE,count x element=total{nested}", each followed by a blank.
std::string Summary(const std::u16string& schema, const char16_t* separator = u"|",
                    const char16_t* field = u",", const char16_t* open = u"{",
                    const char16_t* close = u"}") {
    SchemaField* fields = nullptr;
    const int32_t count =
        kem::settings::ParseSchema(&fields, schema.c_str(), separator, field, open, close);
    std::string out;
    for (int32_t i = 0; i < count; ++i) {
        const SchemaField& f = fields[i];
        out += Utf8(f.name) + "," + Utf8(kem::settings::SchemaTypeTable()[f.type_id].name) + "," +
               std::to_string(f.count) + "x" + std::to_string(f.element_size) + "=" +
               std::to_string(f.total_size);
        out += f.nested_schema ? "{" + Utf8(f.nested_schema.get()) + "} " : " ";
    }
    kem::settings::FreeSchema(&fields, count);
    EXPECT_EQ(fields, nullptr);
    return out;
}

TEST(SchemaTypeTable, EveryRowMatchesItsIdAndWidths) {
    // name, element size, count and total size of every type id in order.
    const char* expected =
        "Unknow 0 0 0|Skip 1 0 0|Boolean 1 1 1|CHAR 1 1 1|UCHAR 1 1 1|WCHAR 2 1 2|TCHAR 2 1 2|"
        "BOOL 4 1 4|SHORT 2 1 2|USHORT 2 1 2|INT 4 1 4|INT8 1 1 1|INT16 2 1 2|INT32 4 1 4|"
        "INT64 8 1 8|UINT 4 1 4|UINT8 1 1 1|UINT16 2 1 2|UINT32 4 1 4|UINT64 8 1 8|LONG 4 1 4|"
        "LONG32 4 1 4|LONG64 8 1 8|ULONG 4 1 4|ULONG32 4 1 4|ULONG64 8 1 8|LONGLONG 8 1 8|"
        "ULONGLONG 8 1 8|BYTE 1 1 1|WORD 2 1 2|DWORD 4 1 4|FLOAT 4 1 4|DOUBLE 8 1 8|"
        "Pointer 4 1 4|STR 1 0 0|WSTR 2 0 0|TSTR 2 0 0|Mem 1 0 0|Struct 0 1 0|LPStruct 4 1 4|";
    std::string table;
    for (int32_t id = 0; id < kSchemaTypeCount; ++id) {
        const SchemaTypeEntry& e = kem::settings::SchemaTypeTable()[id];
        EXPECT_EQ(e.type_id, id);
        table += Utf8(e.name) + " " + std::to_string(e.element_size) + " " +
                 std::to_string(e.count) + " " + std::to_string(e.total_size) + "|";
    }
    EXPECT_EQ(table, expected);
    EXPECT_EQ(kSchemaTypeCount, 40);
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

TEST(ParseSchema, ItemsModifiersAndTheirMistakes) {
    const std::u16string long_name(200, u'n');
    const struct {
        std::u16string schema;
        std::string items;
        const char* debug;  // a part of what is reported; "": nothing is
    } rows[] = {
        // A leading number limits the items; zero, negative and huge ones mean 128.
        {u"3|a,INT|b,INT|c,INT|d,INT|e,INT", "a,INT,1x4=4 b,INT,1x4=4 c,INT,1x4=4 ", ""},
        {u"0|a,INT|b,INT", "a,INT,1x4=4 b,INT,1x4=4 ", ""},
        {u" -4|a,INT|b,INT", "a,INT,1x4=4 b,INT,1x4=4 ", ""},
        {u"2147483647|a,INT|b,BOOL", "a,INT,1x4=4 b,BOOL,1x4=4 ", ""},
        {u"\r\n| \t Name \n,\t tstr \r, c32 \t|Next,INT", "Name,TSTR,32x2=64 Next,INT,1x4=4 ", ""},
        {u"|Flag,bool", "Flag,BOOL,1x4=4 ", ""},
        {u"|Gap,Skip,c6|None,Skip", "Gap,Skip,6x1=6 None,Skip,0x1=0 ", ""},
        {u"|A,TSTR|B,TSTR,c64|C,STR,c10|D,Mem,c5|E,WSTR,C3",
         "A,TSTR,0x2=0 B,TSTR,64x2=128 C,STR,10x1=10 D,Mem,5x1=5 E,WSTR,3x2=6 ", ""},
        // b sets the element size, n the total; a later c recomputes.
        {u"|A,INT,c3,b2|B,INT,n16|C,INT,n16,c2|D,INT,c2,n3|E,WORD,B4",
         "A,INT,3x2=6 B,INT,1x4=16 C,INT,2x4=8 D,INT,2x4=3 E,WORD,1x4=4 ", ""},
        {u"|A,INT,c,x9,,z|B,INT", "A,INT,1x4=4 B,INT,1x4=4 ", ""},
        {u"|A,INT,c0|B,INT", "A,INT,0x4=0 B,INT,1x4=4 ", "c0|B,INT"},
        {u"|A,INT,c-3", "A,INT,0x4=0 ", "c-3"},
        {u"|Big,Mem,c2000000000|Huge,INT,c300000000", "Big,Mem,0x1=0 Huge,INT,0x4=0 ",
         "c2000000000"},
        {u"|Big,Mem,c2000000000|Huge,INT,c300000000", "Big,Mem,0x1=0 Huge,INT,0x4=0 ",
         "c300000000"},
        {u"|Pt,STRUCT,s{|A,INT|B,INT},c2|Next,BOOL",
         "Pt,Struct,2x0=0{|A,INT|B,INT} Next,BOOL,1x4=4 ", ""},
        {u"|A,Struct,s{|B,Struct,s{|C,INT}|D,INT}|E,INT",
         "A,Struct,1x0=0{|B,Struct,s{|C,INT}|D,INT} E,INT,1x4=4 ", ""},
        {u"|Pt,Struct,s {|A,INT}", "Pt,Struct,1x0=0 ", "s {|A,INT}"},
        {u"|Pt,Struct,s{}", "Pt,Struct,1x0=0 ", "s{}"},
        {u"2|abc|x,INT|y,INT", ",Unknow,0x0=0 x,INT,1x4=4 ", "abc|x,INT|y,INT"},
        {u"|A,Widget,c4|B,INT", "A,Unknow,4x0=0 B,INT,1x4=4 ", "Widget,c4|B,INT"},
        {u"|A,INT|", "A,INT,1x4=4 ", ""},
        {u"no items here", "", ""},
        {u"|" + long_name + u",INT", Utf8(long_name.substr(0, 127)) + ",INT,1x4=4 ", "nnn"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Utf8(row.schema));
        DebugCapture debug;
        EXPECT_EQ(Summary(row.schema), row.items);
        if (*row.debug == '\0') {
            EXPECT_EQ(debug.text(), "");
        } else {
            EXPECT_TRUE(debug.Contains(row.debug)) << debug.text();
        }
    }
    std::u16string many = u"\t";  // a leading tab allows 128 items
    for (int i = 0; i < 130; ++i) {
        many += u"|F" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u",INT";
    }
    const std::string parsed = Summary(many);
    EXPECT_EQ(std::count(parsed.begin(), parsed.end(), ' '), 128);
    EXPECT_EQ(Summary(u";A:INT:c2;B:Struct:s<;X:INT>", u";", u":", u"<", u">"),
              "A,INT,2x4=8 B,Struct,1x0=0{;X:INT} ");
}

TEST(ParseSchema, NullInputsGiveNothing) {
    SchemaField* fields = reinterpret_cast<SchemaField*>(1);
    EXPECT_EQ(kem::settings::ParseSchema(&fields, nullptr, u"|", u",", u"{", u"}"), 0);
    EXPECT_EQ(fields, nullptr);
    EXPECT_EQ(kem::settings::ParseSchema(nullptr, u"|a,INT", u"|", u",", u"{", u"}"), 0);
}

TEST(SchemaRecordSize, SumsItemsAndRefusesTooDeepOrTooLargeRecords) {
    DebugCapture debug;
    EXPECT_EQ(SchemaRecordSize(u"|Pt,STRUCT,s{|X,INT|Y,INT},c2", u"|", u","), 16);
    EXPECT_EQ(SchemaRecordSize(u"|A,INT|B,Skip,c3|C,TSTR,c4", u"|", u","), 4 + 3 + 8);
    EXPECT_EQ(SchemaRecordSize(u"", u"|", u","), 0);
    EXPECT_EQ(SchemaRecordSize(nullptr, u"|", u","), -1);
    EXPECT_EQ(SchemaRecordSize(kAppConfigSchema, u"|", u","), kAppConfigBytes);
    std::u16string schema = u"|V,INT";
    for (int depth = 0; depth < kem::settings::kSchemaMaxDepth + 2; ++depth) {
        EXPECT_EQ(SchemaRecordSize(schema.c_str(), u"|", u","),
                  depth <= kem::settings::kSchemaMaxDepth ? 4 : -1)
            << depth;
        schema = u"|S,Struct,s{" + schema + u"}";
    }
    EXPECT_EQ(SchemaRecordSize(u"|A,Mem,c600000000|B,Mem,c600000000", u"|", u","), -1);
    EXPECT_EQ(SchemaRecordSize(u"|S,Struct,s{|M,Mem,c1000000},c5000", u"|", u","), -1);
}

}  // namespace
