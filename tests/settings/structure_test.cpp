// Binding packed records to a store through a schema, over the memory store.
#include "settings/structure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "debug_capture.h"
#include "memory_profile.h"

namespace {

constexpr const char16_t* kSection = u"S";

int32_t Save(CMemoryProfile& store, const void* record, const char16_t* schema) {
    return store.SaveStruct(kSection, record, schema, nullptr, u"|", u",", u"{", u"}");
}

int32_t Load(CMemoryProfile& store, void* record, const char16_t* schema) {
    return store.LoadStruct(kSection, record, schema, nullptr, u"|", u",", u"{", u"}");
}

std::u16string Stored(const CMemoryProfile& store, std::u16string_view section,
                      std::u16string_view key) {
    const std::u16string* value = store.Find(section, key);
    return value == nullptr ? u"<missing>" : *value;
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

TEST(StructBinding, NullRecordOrSchemaIsMinusOne) {
    CMemoryProfile store;
    int32_t value = 0;
    EXPECT_EQ(Save(store, nullptr, u"|A,INT"), -1);
    EXPECT_EQ(Save(store, &value, nullptr), -1);
    EXPECT_EQ(Load(store, nullptr, u"|A,INT"), -1);
    EXPECT_EQ(Load(store, &value, nullptr), -1);
    EXPECT_EQ(store.write_calls + store.read_calls, 0);
}

TEST(StructBinding, SchemaWithoutItemsIsZero) {
    CMemoryProfile store;
    int32_t value = 0;
    EXPECT_EQ(Save(store, &value, u""), 0);
    EXPECT_EQ(Load(store, &value, u"no items"), 0);
}

TEST(StructBinding, ArrayElementsGetNumberedKeysTextsOneKey) {
    struct {
        int32_t ports[3];
        char16_t name[32];
    } record = {{10, -20, 30}, u"hello"};
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, u"|Ports,INT,c3|Name,TSTR,c32"), 12 + 64);
    EXPECT_EQ(Stored(store, kSection, u"Ports_0"), u"10");
    EXPECT_EQ(Stored(store, kSection, u"Ports_1"), u"-20");
    EXPECT_EQ(Stored(store, kSection, u"Ports_2"), u"30");
    EXPECT_EQ(Stored(store, kSection, u"Name"), u"hello");
    EXPECT_EQ(store.ValueCount(), 4u);
}

TEST(StructBinding, ArrayOfStructuresGetsASectionPerElement) {
    int32_t record[4] = {1, 2, 3, 4};
    CMemoryProfile store;
    EXPECT_EQ(Save(store, record, u"|Pt,STRUCT,s{|X,INT|Y,INT},c2"), 16);
    EXPECT_EQ(Stored(store, u"S_Pt_0", u"X"), u"1");
    EXPECT_EQ(Stored(store, u"S_Pt_0", u"Y"), u"2");
    EXPECT_EQ(Stored(store, u"S_Pt_1", u"X"), u"3");
    EXPECT_EQ(Stored(store, u"S_Pt_1", u"Y"), u"4");
    int32_t back[4] = {};
    EXPECT_EQ(Load(store, back, u"|Pt,STRUCT,s{|X,INT|Y,INT},c2"), 16);
    EXPECT_EQ(std::memcmp(back, record, sizeof record), 0);
}

TEST(StructBinding, SixteenBitSignedAndUnsignedTexts) {
    int16_t record[2] = {-1, -1};
    CMemoryProfile store;
    Save(store, record, u"|I,INT16|S,SHORT");
    EXPECT_EQ(Stored(store, kSection, u"I"), u"65535");
    EXPECT_EQ(Stored(store, kSection, u"S"), u"-1");
    int16_t back[2] = {0, 0};
    Load(store, back, u"|I,INT16|S,SHORT");
    EXPECT_EQ(back[0], -1);
    EXPECT_EQ(back[1], -1);
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
#pragma pack(pop)

constexpr const char16_t* kAllSchema =
    u"|Boolean,Boolean|Ch,CHAR|UCh,UCHAR|WCh,WCHAR|B,BOOL|Sh,SHORT|USh,USHORT|I,INT"
    u"|I64,INT64|U,UINT|U64,UINT64|Byte,BYTE|Word,WORD|Dword,DWORD|F,FLOAT|D,DOUBLE"
    u"|P,Pointer|Gap,Skip,c3|Str,STR,c8|WStr,WSTR,c6|Mem,Mem,c4";

AllTypes SampleAllTypes() {
    AllTypes r{};
    r.boolean = 1;
    r.ch = -7;
    r.uch = 250;
    r.wch = u'\u4e2d';
    r.b = 1;
    r.sh = -300;
    r.ush = 65000;
    r.i = -123456;
    r.i64 = -9000000000LL;
    r.u = 4000000000u;
    r.u64 = 9000000000000000000ULL;
    r.byte = 0xAB;
    r.word = 0xBEEF;
    r.dword = 0xDEADBEEF;
    r.f = 3.25f;
    r.d = -1.0 / 3.0;
    r.pointer = 0x00C0FFEE;
    std::memcpy(r.gap, "\x11\x22\x33", 3);
    std::memcpy(r.str, "ab\xD6\xD0", 5);
    std::memcpy(r.wstr, u"w\u6587", 3 * sizeof(char16_t));
    std::memcpy(r.mem, "\x01\x02\xFE\xFF", 4);
    return r;
}

TEST(StructBinding, EveryTypeRoundTripsThroughTheStore) {
    const AllTypes record = SampleAllTypes();
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(Stored(store, kSection, u"Boolean"), u"true");
    EXPECT_EQ(Stored(store, kSection, u"Ch"), u"-7");
    EXPECT_EQ(Stored(store, kSection, u"UCh"), u"250");
    EXPECT_EQ(Stored(store, kSection, u"WCh"), u"20013");
    EXPECT_EQ(Stored(store, kSection, u"B"), u"true");
    EXPECT_EQ(Stored(store, kSection, u"U"), u"4000000000");
    EXPECT_EQ(Stored(store, kSection, u"F"), u"3.2500000000000000e+000");
    EXPECT_EQ(Stored(store, kSection, u"P"), u"0x00C0FFEE");
    EXPECT_EQ(Stored(store, kSection, u"Str"), u"ab\u4e2d");
    EXPECT_EQ(Stored(store, kSection, u"WStr"), u"w\u6587");
    EXPECT_EQ(Stored(store, kSection, u"Mem"), u"0102FEFF00");
    EXPECT_EQ(store.Find(kSection, u"Gap"), nullptr);

    AllTypes back{};
    std::memcpy(back.gap, "\x11\x22\x33", 3);  // Skip bytes are not stored
    EXPECT_EQ(Load(store, &back, kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    const auto* a = reinterpret_cast<const uint8_t*>(&back);
    const auto* b = reinterpret_cast<const uint8_t*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        EXPECT_EQ(a[i], b[i]) << "byte " << i;
    }
}

TEST(StructBinding, BOOLReadsBackAsOneOrZero) {
    int32_t flags[2] = {5, 0};
    CMemoryProfile store;
    Save(store, flags, u"|A,BOOL|B,BOOL");
    int32_t back[2] = {0, 9};
    Load(store, back, u"|A,BOOL|B,BOOL");
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[1], 0);
}

TEST(StructBinding, LoadingFromAnEmptyStoreChangesNoByte) {
    // Random bytes: texts without terminators, NaNs, bytes that are no valid ANSI text.
    std::vector<uint8_t> record = RandomBytes(sizeof(AllTypes), 7);
    const std::vector<uint8_t> before = record;
    CMemoryProfile store;
    EXPECT_EQ(Load(store, record.data(), kAllSchema), static_cast<int32_t>(sizeof(AllTypes)));
    EXPECT_EQ(record, before);
    EXPECT_GT(store.read_calls, 0);
}

TEST(StructBinding, LoadingChangesOnlyTheStoredValues) {
    AllTypes record = SampleAllTypes();
    const AllTypes before = record;
    CMemoryProfile store;
    store.Put(kSection, u"Word", u"4660");
    Load(store, &record, kAllSchema);
    EXPECT_EQ(record.word, 0x1234);
    record.word = before.word;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

TEST(StructBinding, LongStoredTextIsCutToTheField) {
    char16_t field[6] = u"abc";
    CMemoryProfile store;
    store.Put(kSection, u"T", u"0123456789");
    Load(store, field, u"|T,TSTR,c6");
    EXPECT_EQ(std::u16string(field), u"01234");
}

TEST(StructBinding, CutTextNeverEndsInHalfASurrogatePair) {
    char16_t field[4] = u"abc";
    CMemoryProfile store;
    store.Put(kSection, u"T", u"xy\U0001F600z");
    Load(store, field, u"|T,TSTR,c4");
    EXPECT_EQ(std::u16string(field), u"xy");
}

TEST(StructBinding, UnterminatedTextIsSavedWithinItsField) {
    struct {
        char16_t text[4];
        int32_t after;
    } record = {{u'a', u'b', u'c', u'd'}, 0x7A7A7A7A};
    CMemoryProfile store;
    Save(store, &record, u"|T,TSTR,c4|After,INT");
    EXPECT_EQ(Stored(store, kSection, u"T"), u"abcd");
}

TEST(StructBinding, TextsAtOddOffsets) {
    uint8_t record[1 + 8] = {};
    record[0] = 9;
    std::memcpy(record + 1, u"odd", 8);
    CMemoryProfile store;
    EXPECT_EQ(Save(store, record, u"|A,UCHAR|T,TSTR,c4"), 9);
    EXPECT_EQ(Stored(store, kSection, u"T"), u"odd");
    store.Put(kSection, u"T", u"new");
    Load(store, record, u"|A,UCHAR|T,TSTR,c4");
    char16_t text[4];
    std::memcpy(text, record + 1, sizeof text);
    EXPECT_EQ(std::u16string(text), u"new");
}

TEST(StructBinding, MemWithWrongCheckIsZeroed) {
    uint8_t mem[3] = {1, 2, 3};
    CMemoryProfile store;
    store.Put(kSection, u"M", u"0102FF03");
    Load(store, mem, u"|M,Mem,c3");
    EXPECT_EQ(mem[0], 0);
    EXPECT_EQ(mem[1], 0);
    EXPECT_EQ(mem[2], 0);
}

TEST(StructBinding, PointerValueWiderThanItsSlotIsRefused) {
    uint32_t slot = 0x1234;
    CMemoryProfile store;
    store.Put(kSection, u"P", u"0x123456789A");
    Load(store, &slot, u"|P,Pointer");
    EXPECT_EQ(slot, 0x1234u);
}

TEST(StructBinding, FloatOutOfRangeBecomesInfinity) {
    float value = 1.0f;
    CMemoryProfile store;
    store.Put(kSection, u"F", u"1e300");
    Load(store, &value, u"|F,FLOAT");
    EXPECT_TRUE(std::isinf(value));
}

TEST(StructBinding, AFailingWriteFailsTheSaveAfterAllAreTried) {
    int32_t record[3] = {1, 2, 3};
    CMemoryProfile store;
    store.fail_writes = true;
    EXPECT_EQ(Save(store, record, u"|A,INT|B,INT|C,INT"), -1);
    EXPECT_EQ(store.write_calls, 3);
    EXPECT_EQ(store.ValueCount(), 0u);
    store.fail_writes = false;
    EXPECT_EQ(Save(store, record, u"|A,INT|B,INT|C,INT"), 12);
    EXPECT_EQ(store.ValueCount(), 3u);
}

TEST(StructBinding, LocationIsHandedToTheStore) {
    // The base store reads nothing: every value keeps its field.
    CKemProfileBaseClass base;
    int32_t value = 17;
    EXPECT_EQ(base.LoadStruct(u"S", &value, u"|A,INT", u"elsewhere", u"|", u",", u"{", u"}"), 4);
    EXPECT_EQ(value, 17);
}

TEST(StructBinding, SkipIsSteppedOver) {
    struct {
        int32_t a;
        uint8_t gap[6];
        int16_t b;
    } record = {1, {}, 2};
    static_assert(sizeof(record) == 12);
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, u"|A,INT|Gap,Skip,c6|B,SHORT"), 12);
    EXPECT_EQ(Stored(store, kSection, u"B"), u"2");
    EXPECT_EQ(store.ValueCount(), 2u);
}

// ---- schemas that would reach outside the record ----

TEST(StructBinding, ElementsBeyondTheDescribedSizeAreNotTouched) {
    DebugCapture debug;
    int32_t record = 5;  // "n4" says the four INTs fit in 4 bytes
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, u"|A,INT,c4,n4"), 4);
    EXPECT_EQ(Stored(store, kSection, u"A_0"), u"5");
    EXPECT_EQ(store.ValueCount(), 1u);
    EXPECT_TRUE(debug.Contains("outside")) << debug.text();
}

TEST(StructBinding, TextWiderThanItsStepIsNotTouched) {
    DebugCapture debug;
    char16_t record[4] = u"abc";  // b1 makes the field 8 bytes, the text needs 16
    CMemoryProfile store;
    store.Put(kSection, u"T", u"0123456");
    EXPECT_EQ(Load(store, record, u"|T,TSTR,c8,b1"), 0);
    EXPECT_EQ(std::u16string(record), u"abc");
    EXPECT_TRUE(debug.Contains("outside")) << debug.text();
}

TEST(StructBinding, LPStructIsSteppedOverAndReported) {
    DebugCapture debug;
    uint32_t record[2] = {0xDEADBEEF, 7};
    CMemoryProfile store;
    EXPECT_EQ(Save(store, record, u"|L,LPStruct,s{|X,INT}|N,INT"), 8);
    EXPECT_EQ(Stored(store, kSection, u"N"), u"7");
    EXPECT_EQ(store.ValueCount(), 1u);
    EXPECT_TRUE(debug.Contains("LPStruct")) << debug.text();
}

TEST(StructBinding, StructureWithoutNestedSchemaIsSkipped) {
    DebugCapture debug;
    int32_t record = 3;
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, u"|S,Struct|A,INT"), 4);
    EXPECT_EQ(Stored(store, kSection, u"A"), u"3");
    EXPECT_TRUE(debug.Contains("nested")) << debug.text();
}

TEST(StructBinding, ZeroSizeElementsAreSkipped) {
    DebugCapture debug;
    int32_t record = 3;
    CMemoryProfile store;
    // b0 is refused, leaving elements of size 0; a billion of them must not be walked.
    EXPECT_EQ(Save(store, &record, u"|Z,INT,c1000000000,b0|A,INT"), 4);
    EXPECT_EQ(Stored(store, kSection, u"A"), u"3");
    EXPECT_EQ(store.ValueCount(), 1u);
}

TEST(StructBinding, TooDeepSchemaIsRefusedWhole) {
    DebugCapture debug;
    std::u16string schema = u"|V,INT";
    for (int i = 0; i < 40; ++i) {
        schema = u"|S,Struct,s{" + schema + u"}";
    }
    int32_t record = 0;
    CMemoryProfile store;
    EXPECT_EQ(Save(store, &record, schema.c_str()), -1);
    EXPECT_EQ(store.write_calls, 0);
}

TEST(StructBinding, KeyAndSectionNamesAreCut) {
    const std::u16string name(150, u'k');
    const std::u16string schema = u"|" + name + u",INT,c2";
    int32_t record[2] = {1, 2};
    CMemoryProfile store;
    Save(store, record, schema.c_str());
    std::vector<std::u16string> keys;
    store.EnumKeys(kSection, &keys, nullptr);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], name.substr(0, 127) + u"_0");  // the schema keeps 127 units of a name
    const std::u16string long_name(127, u'n');
    const std::u16string nested = u"|" + long_name + u",Struct,s{|X,INT},c2";
    CMemoryProfile nested_store;
    const std::u16string section(200, u's');
    nested_store.SaveStruct(section.c_str(), record, nested.c_str(), nullptr, u"|", u",", u"{",
                            u"}");
    std::vector<std::u16string> sections;
    nested_store.EnumSections(&sections, nullptr);
    // Both elements' sections are cut to the same 287 units and so share one section.
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].size(), static_cast<size_t>(kem::settings::kStructSectionUnits));
}

}  // namespace
