// The base store's primitives, the bounded text copies and the typed value codecs, over the
// memory store.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "memory_profile.h"
#include "platform/code_page.h"
#include "settings/profile_base.h"

namespace {

using kem::settings::CopyTextBounded;
using kem::settings::CopyTextBoundedAnsi;

constexpr const char16_t* kS = u"S";

class Codec : public ::testing::Test {
protected:
    std::u16string Stored(const char16_t* key) {
        const std::u16string* value = store_.Find(kS, key);
        return value == nullptr ? u"<missing>" : *value;
    }
    // Stores `text` under "k".
    CMemoryProfile& With(const char16_t* text) {
        store_.Put(kS, u"k", text);
        return store_;
    }
    CMemoryProfile store_;
};

TEST(CopyTextBounded, CutsAtCapacityNulAndWholeSurrogatePairs) {
    const std::u16string pair_text = u"ab\U0001F600cd";  // a, b, high, low, c, d
    const struct {
        std::u16string_view text;
        int32_t capacity;
        int32_t length;
    } rows[] = {
        {u"abc", 8, 3},    {u"abcdef", 4, 3}, {pair_text, 4, 2},
        {pair_text, 5, 4}, {pair_text, 7, 6}, {std::u16string_view(u"ab\0cd", 5), 8, 2},
        {u"abc", 1, 0},
    };
    for (const auto& row : rows) {
        std::u16string buffer(9, u'#');
        EXPECT_EQ(CopyTextBounded(buffer.data(), row.capacity, row.text), row.length);
        EXPECT_EQ(buffer.substr(0, row.length + 1),
                  std::u16string(row.text.substr(0, row.length)) + u'\0');
        EXPECT_EQ(buffer.substr(row.capacity), std::u16string(9 - row.capacity, u'#'));
    }
    char16_t untouched[1] = {u'x'};
    EXPECT_EQ(CopyTextBounded(untouched, 0, u"abc"), 0);
    EXPECT_EQ(untouched[0], u'x');
    EXPECT_EQ(CopyTextBounded(nullptr, 5, u"abc"), 0);
}

TEST(CopyTextBoundedAnsi, CutsBeforeADoubleByteCharacterThatDoesNotFit) {
    char buffer[4];
    // "a" is one byte, each Chinese character two in the ANSI code page (CP936).
    EXPECT_EQ(CopyTextBoundedAnsi(buffer, 4, u"a\u4e2d\u6587"), 3);
    EXPECT_EQ(std::string(buffer), "a\xD6\xD0");
    EXPECT_EQ(CopyTextBoundedAnsi(buffer, 3, u"a\u4e2d\u6587"), 1);
    EXPECT_EQ(std::string(buffer), "a");
    EXPECT_EQ(buffer[2], '\0');
}

TEST_F(Codec, StringForwardersConvertAnsiAndBoundTheirResults) {
    EXPECT_EQ(store_.WriteStringA(kS, u"c", "\xD6\xD0", nullptr), 1);
    EXPECT_EQ(Stored(u"c"), u"\u4e2d");
    EXPECT_EQ(store_.GetString(kS, u"none", u"x", nullptr), u"x");
    store_.Put(kS, u"long", std::u16string(20000, u'z'));
    EXPECT_EQ(store_.GetString(kS, u"long", nullptr, nullptr).size(), 16383u);

    store_.Put(kS, u"t", u"a\u4e2d\u6587");
    char ansi[8];
    EXPECT_EQ(store_.ReadStringA(kS, u"t", "", ansi, 8, nullptr), 5);
    EXPECT_EQ(std::string(ansi), "a\xD6\xD0\xCE\xC4");
    EXPECT_EQ(store_.ReadStringA(kS, u"t", "", ansi, 5, nullptr), 3);
    EXPECT_EQ(std::string(ansi), "a\xD6\xD0");
    EXPECT_EQ(store_.ReadStringA(kS, u"none", "\xCE\xC4", ansi, 8, nullptr), 2);
    EXPECT_EQ(std::string(ansi), "\xCE\xC4");
}

TEST_F(Codec, NumbersAndBooleansWriteTheirTextAndReadBack) {
    store_.WriteInt(kS, u"int", -5, nullptr);
    store_.WriteUInt(kS, u"uint", 4294967295u, nullptr);
    store_.WriteDword(kS, u"dword", 123456789u, nullptr);
    store_.WriteInt64(kS, u"int64", INT64_MIN, nullptr);
    store_.WriteUInt64(kS, u"uint64", UINT64_MAX, nullptr);
    store_.WriteUInt64(kS, u"uint64b", 1234567890123ull, nullptr);
    store_.WriteHex(kS, u"hex", 0xBEEF, nullptr);
    store_.WriteBool(kS, u"two", 2, nullptr);
    store_.WriteBool(kS, u"zero", 0, nullptr);
    store_.WritePointer(kS, u"p", 0x1234, nullptr);
    store_.WritePointer(kS, u"wide", 0x123456789AULL, nullptr);
    std::u16string texts;
    for (const auto& [key, value] : store_.sections().at(0).values) {
        texts += key + u"=" + value + u" ";
    }
    EXPECT_EQ(texts,
              u"int=-5 uint=4294967295 dword=123456789 int64=-9223372036854775808 "
              u"uint64=18446744073709551615 uint64b=1234567890123 hex=0xBEEF two=true zero=false "
              u"p=0x00001234 wide=0x123456789A ");
    EXPECT_EQ(store_.ReadInt(kS, u"int", 9, nullptr), -5);
    EXPECT_EQ(store_.ReadUInt(kS, u"uint", 0, nullptr), 4294967295u);
    EXPECT_EQ(store_.ReadDword(kS, u"dword", 0, nullptr), 123456789u);
    EXPECT_EQ(store_.ReadInt64(kS, u"int64", 0, nullptr), INT64_MIN);
    // Above the signed limit reading saturates.
    EXPECT_EQ(store_.ReadUInt64(kS, u"uint64", 0, nullptr), 9223372036854775807ull);
    EXPECT_EQ(store_.ReadUInt64(kS, u"uint64b", 0, nullptr), 1234567890123ull);
    EXPECT_EQ(store_.ReadHex(kS, u"hex", 0, nullptr), 0xBEEFu);
    EXPECT_EQ(store_.ReadBool(kS, u"zero", 1, nullptr), 0);
    EXPECT_EQ(store_.ReadPointer(kS, u"p", 0, nullptr), 0x1234u);
}

TEST_F(Codec, NumbersAndBooleansReadForeignTextsSaturatingOrAsTheDefault) {
    EXPECT_EQ(With(u"99999999999").ReadInt(kS, u"k", 0, nullptr), INT32_MAX);
    EXPECT_EQ(With(u"-99999999999").ReadInt(kS, u"k", 0, nullptr), INT32_MIN);
    EXPECT_EQ(With(u" \t+42abc").ReadInt(kS, u"k", 0, nullptr), 42);
    EXPECT_EQ(With(u"abc").ReadInt(kS, u"k", 7, nullptr), 0);
    EXPECT_EQ(With(u"").ReadInt(kS, u"k", 7, nullptr), 7);
    EXPECT_EQ(store_.ReadInt(kS, u"missing", 7, nullptr), 7);
    EXPECT_EQ(With(u"-1").ReadUInt(kS, u"k", 0, nullptr), 0xFFFFFFFFu);
    // The low 32 bits of a 64-bit conversion.
    EXPECT_EQ(With(u"4294967297").ReadUInt(kS, u"k", 0, nullptr), 1u);
    EXPECT_EQ(store_.ReadUInt(kS, u"missing", 3, nullptr), 3u);
    EXPECT_EQ(With(u"99999999999999999999").ReadInt64(kS, u"k", 0, nullptr), INT64_MAX);
    EXPECT_EQ(With(u"-99999999999999999999").ReadInt64(kS, u"k", 0, nullptr), INT64_MIN);
    EXPECT_EQ(With(u"0X1a").ReadHex(kS, u"k", 0, nullptr), 0x1Au);
    EXPECT_EQ(With(u"ff").ReadHex(kS, u"k", 0, nullptr), 0xFFu);
    EXPECT_EQ(With(u"zz").ReadHex(kS, u"k", 77, nullptr), 77u);
    EXPECT_EQ(With(u"0x1FFFFFFFF").ReadHex(kS, u"k", 0, nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(With(u"TRUE").ReadBool(kS, u"k", 0, nullptr), 1);
    EXPECT_EQ(With(u"1").ReadBool(kS, u"k", 1, nullptr), 0);
    EXPECT_EQ(With(u"trueish").ReadBool(kS, u"k", 1, nullptr), 0);
    EXPECT_EQ(store_.ReadBool(kS, u"missing", 7, nullptr), 7);
    EXPECT_EQ(With(u"0X1f").ReadPointer(kS, u"k", 0, nullptr), 0x1Fu);
    EXPECT_EQ(With(u"DEADBEEF").ReadPointer(kS, u"k", 0, nullptr), 0xDEADBEEFu);
    EXPECT_EQ(With(u"xyz").ReadPointer(kS, u"k", 5, nullptr), 5u);
}

TEST_F(Codec, DoubleIsScientificWithThreeExponentDigitsAndRoundTripsExactly) {
    store_.WriteDouble(kS, u"d", 1.5, nullptr);
    store_.WriteDouble(kS, u"e", -2.5e-300, nullptr);
    store_.WriteDouble(kS, u"f", 1e100, nullptr);
    EXPECT_EQ(Stored(u"d") + u" " + Stored(u"e") + u" " + Stored(u"f"),
              u"1.5000000000000000e+000 -2.5000000000000000e-300 1.0000000000000000e+100");
    for (double value : {0.0, -0.0, 0.1, 1.0 / 3.0, 6.02214076e23, -1.7976931348623157e308,
                         4.9406564584124654e-324, 123456789.125}) {
        store_.WriteDouble(kS, u"v", value, nullptr);
        const double back = store_.ReadDouble(kS, u"v", 42.0, nullptr);
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << value;
    }
    // Decimal texts written elsewhere are read too.
    EXPECT_EQ(With(u"2.5000000000000000e+00").ReadDouble(kS, u"k", 0, nullptr), 2.5);
    EXPECT_EQ(With(u"  +12.75xyz").ReadDouble(kS, u"k", 0, nullptr), 12.75);
    EXPECT_EQ(With(u"abc").ReadDouble(kS, u"k", 9, nullptr), 0.0);
    EXPECT_TRUE(std::isinf(With(u"1e999").ReadDouble(kS, u"k", 0, nullptr)));
    EXPECT_EQ(With(u"-1e-999").ReadDouble(kS, u"k", 5, nullptr), 0.0);
    EXPECT_EQ(store_.ReadDouble(kS, u"missing", 9.5, nullptr), 9.5);
}

TEST_F(Codec, BytesAreHexPairsWithAnOptionalCheckPair) {
    const uint8_t bytes[] = {0x01, 0x02, 0xFF};
    store_.WriteBytes(kS, u"b", bytes, 3, nullptr, 1);
    EXPECT_EQ(Stored(u"b"), u"0102FF02");
    store_.WriteBytes(kS, u"plain", bytes, 3, nullptr, 0);
    EXPECT_EQ(Stored(u"plain"), u"0102FF");
    const struct {
        const char16_t* stored;  // null: no value
        int32_t check;
        int32_t length;
        int32_t result;
        int32_t length_after;  // -1: not looked at
        std::vector<uint8_t> out;
    } rows[] = {
        {u"0102FF02", 1, 3, 1, 3, {0x01, 0x02, 0xFF}},
        {u"0102FF03", 1, 3, 0, -1, {0, 0, 0}},  // a wrong check zeroes the destination
        {u"0aff", 0, 2, 1, 2, {0x0A, 0xFF, 9}},
        {nullptr, 1, 2, 0, 0, {9, 9, 9}},
        {u"41zz", 0, 3, 1, 3, {0x41, 0x41, 0x41}},  // an unreadable pair repeats the previous
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored == nullptr ? "none" : kem::platform::WideToUtf8(row.stored));
        CMemoryProfile store;
        if (row.stored != nullptr) {
            store.Put(kS, u"b", row.stored);
        }
        std::vector<uint8_t> out(3, 9);
        int32_t length = row.length;
        EXPECT_EQ(store.ReadBytes(kS, u"b", out.data(), &length, nullptr, row.check), row.result);
        if (row.length_after >= 0) {
            EXPECT_EQ(length, row.length_after);
        }
        EXPECT_EQ(out, row.out);
    }
    int32_t length = 0;  // without a destination only the length is reported
    EXPECT_EQ(store_.ReadBytes(kS, u"b", nullptr, &length, nullptr, 1), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(store_.ReadBytes(kS, u"b", nullptr, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 4);
}

DateTimeValue At(int y, int mo, int d, int h, int mi, int s) {
    kem::settings::CivilDateTime civil{y, mo, d, h, mi, s};
    DateTimeValue value;
    EXPECT_TRUE(kem::settings::CivilToOleDate(civil, &value.date));
    return value;
}

TEST_F(Codec, DateTimeRoundTripsInTheStoreFormAndOnlyWhenValid) {
    EXPECT_EQ(store_.WriteDateTime(kS, u"t", At(2024, 2, 29, 13, 45, 7), nullptr), 1);
    EXPECT_EQ(Stored(u"t"), u"2024-02-29 13:45:07");
    const DateTimeValue back = store_.ReadDateTime(kS, u"t", DateTimeValue{}, nullptr);
    EXPECT_EQ(back.status, kDateTimeValid);
    EXPECT_DOUBLE_EQ(back.date, At(2024, 2, 29, 13, 45, 7).date);
    // Neither an invalid nor an unrepresentable time is written.
    EXPECT_EQ(store_.WriteDateTime(kS, u"u", DateTimeValue{45000.0, kDateTimeInvalid}, nullptr), 0);
    EXPECT_EQ(store_.WriteDateTime(kS, u"u", DateTimeValue{1e9, kDateTimeValid}, nullptr), 0);
    EXPECT_EQ(store_.write_calls, 1);

    const DateTimeValue dflt = At(2001, 9, 8, 7, 6, 5);
    const DateTimeValue missing = store_.ReadDateTime(kS, u"none", dflt, nullptr);
    EXPECT_EQ(missing.status, kDateTimeValid);
    EXPECT_DOUBLE_EQ(missing.date, dflt.date);
    DateTimeValue value = With(u"not a date").ReadDateTimeText(kS, u"k", u"", nullptr);
    EXPECT_EQ(value.status, kDateTimeInvalid);
    EXPECT_EQ(value.date, 0.0);
    value = With(u"12345-01-01").ReadDateTimeText(kS, u"k", u"", nullptr);
    EXPECT_EQ(value.status, kDateTimeInvalid);
    EXPECT_EQ(value.date, -1.0);
}

TEST_F(Codec, DateAndTimePartsAndFormats) {
    store_.Put(kS, u"t", u"2024-02-29 13:45:07");
    const DateTimeValue date = store_.ReadDate(kS, u"t", nullptr, nullptr);
    EXPECT_DOUBLE_EQ(date.date, At(2024, 2, 29, 0, 0, 0).date);
    const DateTimeValue time = store_.ReadTime(kS, u"t", nullptr, nullptr);
    EXPECT_NEAR(time.date, (13 * 3600 + 45 * 60 + 7) / 86400.0, 1e-12);
    EXPECT_EQ(store_.FormatDate(kS, u"t", nullptr, u"%d/%m/%Y %H", nullptr), u"29/02/2024 00");
    EXPECT_EQ(store_.FormatTime(kS, u"t", nullptr, u"%H.%M.%S", nullptr), u"13.45.07");
    EXPECT_EQ(store_.FormatDate(kS, u"none", u"1999-12-31", u"%Y", nullptr), u"1999");
    EXPECT_EQ(store_.FormatDate(kS, u"none", u"junk", u"%Y", nullptr), u"Invalid DateTime");
}

}  // namespace
