// Binding packed records to a store through a schema, over the memory store.
#include "settings/structure.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "memory_profile.h"
#include "platform/code_page.h"

namespace {

int32_t Save(CMemoryProfile& store, const void* record, const char16_t* schema) {
    return store.SaveStruct(u"S", record, schema, nullptr, u"|", u",", u"{", u"}");
}

int32_t Load(CMemoryProfile& store, void* record, const char16_t* schema) {
    return store.LoadStruct(u"S", record, schema, nullptr, u"|", u",", u"{", u"}");
}

// Everything stored, as "section/key=value " in writing order.
std::string Dump(const CMemoryProfile& store) {
    std::string out;
    for (const auto& section : store.sections()) {
        for (const auto& [key, value] : section.values) {
            out += kem::platform::WideToUtf8(section.name + u"/" + key + u"=" + value) + " ";
        }
    }
    return out;
}

template <class T>
std::string Bytes(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

#pragma pack(push, 1)
struct AllTypes {
    uint8_t boolean;
    int8_t ch;
    uint8_t uch;
    char16_t wch;
    int32_t b;
    int16_t sh;
    uint16_t ush;
    int32_t i;
    int64_t i64;
    uint32_t u;
    uint64_t u64;
    uint8_t byte;
    uint16_t word;
    uint32_t dword;
    float f;
    double d;
    uint32_t pointer;
    uint8_t gap[3];
    char str[8];
    char16_t wstr[6];
    uint8_t mem[4];
};
struct Ports {
    int32_t ports[3];
    char16_t name[32];
};
struct Unterminated {
    char16_t text[4];
    int32_t after;
};
struct Gapped {
    int32_t a;
    uint8_t gap[6];
    int16_t b;
};
#pragma pack(pop)

constexpr const char16_t* kAllSchema =
    u"|Boolean,Boolean|Ch,CHAR|UCh,UCHAR|WCh,WCHAR|B,BOOL|Sh,SHORT|USh,USHORT|I,INT"
    u"|I64,INT64|U,UINT|U64,UINT64|Byte,BYTE|Word,WORD|Dword,DWORD|F,FLOAT|D,DOUBLE"
    u"|P,Pointer|Gap,Skip,c3|Str,STR,c8|WStr,WSTR,c6|Mem,Mem,c4";

TEST(StructBinding, EveryTypeRoundTripsAndLoadingChangesOnlyStoredValues) {
    const AllTypes record(1, -7, 250, u'\u4e2d', 1, -300, 65000, -123456, -9000000000, 4000000000u,
                          9000000000000000000ULL, 0xAB, 0xBEEF, 0xDEADBEEF, 3.25f, -1.0 / 3.0,
                          0x00C0FFEE, {0x11, 0x22, 0x33}, "ab\xD6\xD0", u"w\u6587",
                          {0x01, 0x02, 0xFE, 0xFF});
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(Dump(store),
              "S/Boolean=true S/Ch=-7 S/UCh=250 S/WCh=20013 S/B=true S/Sh=-300 S/USh=65000 "
              "S/I=-123456 S/I64=-9000000000 S/U=4000000000 S/U64=9000000000000000000 S/Byte=171 "
              "S/Word=48879 S/Dword=3735928559 S/F=3.2500000000000000e+000 "
              "S/D=-3.3333333333333331e-001 S/P=0x00C0FFEE S/Str=ab\u4e2d S/WStr=w\u6587 "
              "S/Mem=0102FEFF00 ");
    AllTypes back{};
    std::memcpy(back.gap, "\x11\x22\x33", 3);  // Skip bytes are not stored
    EXPECT_EQ(Load(store, &back, kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(Bytes(back), Bytes(record));

    CMemoryProfile one;
    one.Put(u"S", u"Word", u"4660");
    EXPECT_EQ(Load(one, &back, kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(back.word, 0x1234);
    back.word = record.word;
    EXPECT_EQ(Bytes(back), Bytes(record));

    // Random bytes (texts without terminators, NaNs, invalid ANSI) survive an empty store.
    std::mt19937 random(7);
    std::string noise(sizeof(AllTypes), '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    const std::string before = noise;
    CMemoryProfile empty;
    EXPECT_EQ(Load(empty, noise.data(), kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(noise, before);
    EXPECT_GT(empty.read_calls, 0);
}

TEST(StructBinding, SavedKeysSectionsAndSkippedItems) {
    const Ports ports = {{10, -20, 30}, u"hello"};
    const int32_t points[4] = {1, 2, 3, 4};
    const int16_t shorts[2] = {-1, -1};
    const int32_t flags[2] = {5, 0};
    const Unterminated unterminated = {{u'a', u'b', u'c', u'd'}, 0x7A7A7A7A};
    uint8_t odd[1 + 8] = {9};
    std::memcpy(odd + 1, u"odd", 8);
    const Gapped gapped = {1, {}, 2};
    const uint32_t lp[2] = {0xDEADBEEF, 7};
    const int32_t three = 3;
    std::u16string deep = u"|V,INT";
    for (int i = 0; i < 40; ++i) {
        deep = u"|S,Struct,s{" + deep + u"}";
    }
    const struct {
        std::u16string schema;
        std::string record;
        int32_t result;
        std::string stored;
        std::string loaded;  // loading that back into zeroed bytes; empty: not tried
        const char* debug;   // a part of what is reported; null: not looked at
    } rows[] = {
        {u"|Ports,INT,c3|Name,TSTR,c32", Bytes(ports), 76,
         "S/Ports_0=10 S/Ports_1=-20 S/Ports_2=30 S/Name=hello ", Bytes(ports), nullptr},
        {u"|Pt,STRUCT,s{|X,INT|Y,INT},c2", Bytes(points), 16,
         "S_Pt_0/X=1 S_Pt_0/Y=2 S_Pt_1/X=3 S_Pt_1/Y=4 ", Bytes(points), nullptr},
        {u"|I,INT16|S,SHORT", Bytes(shorts), 4, "S/I=65535 S/S=-1 ", Bytes(shorts), nullptr},
        {u"|A,BOOL|B,BOOL", Bytes(flags), 8, "S/A=true S/B=false ",
         Bytes(std::array<int32_t, 2>{1, 0}), nullptr},
        {u"|T,TSTR,c4|After,INT", Bytes(unterminated), 12, "S/T=abcd S/After=2054847098 ", "",
         nullptr},
        {u"|A,UCHAR|T,TSTR,c4", Bytes(odd), 9, "S/A=9 S/T=odd ", Bytes(odd), nullptr},
        {u"|A,INT|Gap,Skip,c6|B,SHORT", Bytes(gapped), 12, "S/A=1 S/B=2 ", Bytes(gapped), nullptr},
        // Schemas that would reach outside the record are stepped over.
        {u"|A,INT,c4,n4", Bytes(three), 4, "S/A_0=3 ", "", "outside"},
        {u"|L,LPStruct,s{|X,INT}|N,INT", Bytes(lp), 8, "S/N=7 ", "", "LPStruct"},
        {u"|S,Struct|A,INT", Bytes(three), 4, "S/A=3 ", "", "nested"},
        // b0 is refused, leaving elements of size 0; a billion of them must not be walked.
        {u"|Z,INT,c1000000000,b0|A,INT", Bytes(three), 4, "S/A=3 ", "", nullptr},
        {deep, Bytes(three), -1, "", "", nullptr},
        {u"", Bytes(three), 0, "", "", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(kem::platform::WideToUtf8(row.schema.substr(0, 40)));
        DebugCapture debug;
        CMemoryProfile store;
        EXPECT_EQ(Save(store, row.record.data(), row.schema.c_str()), row.result);
        EXPECT_EQ(Dump(store), row.stored);
        if (!row.loaded.empty()) {
            std::string back(row.record.size(), '\0');
            EXPECT_EQ(Load(store, back.data(), row.schema.c_str()), row.result);
            EXPECT_EQ(back, row.loaded);
        }
        if (row.debug != nullptr) {
            EXPECT_TRUE(debug.Contains(row.debug)) << debug.text();
        }
    }
}

TEST(StructBinding, LoadedValuesAreCutOrRefusedToFitTheField) {
    const float one = 1.0f;
    const float infinity = std::numeric_limits<float>::infinity();
    const uint32_t pointer = 0x1234;
    const char16_t text[8] = u"abc";
    const struct {
        const char16_t* schema;
        const char16_t* stored;
        std::string before;
        int32_t result;
        std::string after;
        const char* debug = "";  // a part of what is reported; "": not looked at
    } rows[] = {
        {u"|T,TSTR,c6", u"0123456789", Bytes(u"abc\0\0"), 12, Bytes(u"01234")},
        {u"|T,TSTR,c4", u"xy\U0001F600z", Bytes(u"abc"), 8, Bytes(u"xy\0")},   // no half pair
        {u"|T,Mem,c3", u"0102FF03", "\x01\x02\x03", 3, std::string(3, '\0')},  // wrong check
        {u"|T,Pointer", u"0x123456789A", Bytes(pointer), 4, Bytes(pointer)},   // too wide
        {u"|T,FLOAT", u"1e300", Bytes(one), 4, Bytes(infinity)},
        // b1 makes the field 8 bytes but the text needs 16: the field is left alone.
        {u"|T,TSTR,c8,b1", u"0123456", Bytes(text).substr(0, 8), 0, Bytes(text).substr(0, 8),
         "outside"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(kem::platform::WideToUtf8(row.schema));
        DebugCapture debug;
        CMemoryProfile store;
        store.Put(u"S", u"T", row.stored);
        std::string record = row.before;
        EXPECT_EQ(Load(store, record.data(), row.schema), row.result);
        EXPECT_EQ(record, row.after);
        if (*row.debug != '\0') {
            EXPECT_TRUE(debug.Contains(row.debug)) << debug.text();
        }
    }
}

TEST(StructBinding, NullRecordOrSchemaIsMinusOneAndFailedWritesFailTheSave) {
    CMemoryProfile store;
    int32_t record[3] = {1, 2, 3};
    EXPECT_EQ(Save(store, nullptr, u"|A,INT"), -1);
    EXPECT_EQ(Save(store, record, nullptr), -1);
    EXPECT_EQ(Load(store, nullptr, u"|A,INT"), -1);
    EXPECT_EQ(Load(store, record, nullptr), -1);
    EXPECT_EQ(store.write_calls + store.read_calls, 0);
    store.fail_writes = true;  // every write is still tried
    EXPECT_EQ(Save(store, record, u"|A,INT|B,INT|C,INT"), -1);
    EXPECT_EQ(store.write_calls, 3);
    EXPECT_EQ(Dump(store), "");
    store.fail_writes = false;
    EXPECT_EQ(Save(store, record, u"|A,INT|B,INT|C,INT"), 12);
    EXPECT_EQ(Dump(store), "S/A=1 S/B=2 S/C=3 ");
}

TEST(StructBinding, KeyAndSectionNamesAreCut) {
    const std::u16string name(150, u'k');
    const int32_t record[2] = {1, 2};
    CMemoryProfile store;
    Save(store, record, (u"|" + name + u",INT,c2").c_str());
    ASSERT_EQ(store.sections().size(), 1u);
    ASSERT_EQ(store.sections()[0].values.size(), 2u);
    // The schema keeps 127 units of a name.
    EXPECT_EQ(store.sections()[0].values[0].first, name.substr(0, 127) + u"_0");
    const std::u16string nested = u"|" + std::u16string(127, u'n') + u",Struct,s{|X,INT},c2";
    CMemoryProfile nested_store;
    nested_store.SaveStruct(std::u16string(200, u's').c_str(), record, nested.c_str(), nullptr,
                            u"|", u",", u"{", u"}");
    // Both elements' sections are cut to the same length and so share one section.
    ASSERT_EQ(nested_store.sections().size(), 1u);
    EXPECT_EQ(nested_store.sections()[0].name.size(),
              static_cast<size_t>(kem::settings::kStructSectionUnits));
}

}  // namespace
