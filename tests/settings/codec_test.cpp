// The base store's primitives, the bounded text copies and the typed value codecs, over the
// memory store.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "memory_profile.h"
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
    CMemoryProfile store_;
};

// ---- base behaviour ----

TEST(ProfileBase, PrimitivesHaveTheirBaseBehaviour) {
    CKemProfileBaseClass base;
    EXPECT_EQ(base.IsLoaded(), 0);
    EXPECT_EQ(base.Load(), 1);
    EXPECT_EQ(base.IsLoaded(), 1);
    EXPECT_EQ(base.WriteStringRaw(u"a", u"b", u"c", nullptr), 1);
    EXPECT_EQ(base.IsModified(), 1);
    EXPECT_EQ(base.Save(), 1);
    EXPECT_EQ(base.IsModified(), 0);
    EXPECT_EQ(base.SetLocation(u"x", 1), 0);
    EXPECT_EQ(base.ImportFile(u"x"), 0);
    EXPECT_EQ(base.Flush(1), 1);
    EXPECT_EQ(base.Exists(1), 1);
    EXPECT_EQ(base.HasSection(u"a"), 0);
    EXPECT_EQ(base.Reserved(), 0);
    EXPECT_EQ(base.SectionExists(u"a", nullptr, nullptr), 0);
    EXPECT_EQ(base.DeleteValue(u"a", u"b", nullptr), 0);
    EXPECT_EQ(base.DeleteSection(u"a", nullptr), 0);
    EXPECT_EQ(base.DeleteAll(nullptr), 0);
    EXPECT_EQ(base.WriteSection(u"a", u"x=1\0", nullptr), 0);
    char16_t buffer[8] = {u'q'};
    EXPECT_EQ(base.ReadSection(u"a", buffer, 8, nullptr), 0);
    EXPECT_EQ(base.ReadStringRaw(u"a", u"b", u"d", buffer, 8, nullptr), 0);
    EXPECT_EQ(base.FindKeyOfValue(u"a", u"c", u"d", buffer, 8, nullptr), 0);
    std::vector<std::u16string> list = {u"stale"};
    EXPECT_EQ(base.EnumSections(&list, nullptr), 0);
    EXPECT_TRUE(list.empty());
    list = {u"stale"};
    EXPECT_EQ(base.EnumKeys(u"a", &list, nullptr), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(base.EnumSections(nullptr, nullptr), 0);
    EXPECT_EQ(base.SetModified(5), 5);
    EXPECT_EQ(base.IsModified(), 5);
    EXPECT_EQ(base.SetLoaded(1), 1);
    EXPECT_EQ(base.Close(), 1);
    EXPECT_EQ(base.IsModified(), 0);
    EXPECT_EQ(base.IsLoaded(), 0);
}

TEST(ProfileBase, ResetClosesAndClearsTheOptions) {
    CKemProfileBaseClass base;
    base.set_keep_open(1);
    base.set_scramble(1);
    base.set_scramble_key(0x5A);
    base.set_safe_save(1);
    base.set_empty_is_default(1);
    base.Load();
    base.SetModified(1);
    EXPECT_EQ(base.Reset(), 0);
    EXPECT_EQ(base.keep_open(), 0);
    EXPECT_EQ(base.scramble(), 0);
    EXPECT_EQ(base.scramble_key(), 0);
    EXPECT_EQ(base.safe_save(), 0);
    EXPECT_EQ(base.empty_is_default(), 0);
    EXPECT_EQ(base.IsLoaded(), 0);
    EXPECT_EQ(base.IsModified(), 0);
}

// ---- bounded copies ----

TEST(CopyTextBounded, CopiesAndTerminates) {
    char16_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(CopyTextBounded(buffer, 8, u"abc"), 3);
    EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(CopyTextBounded, CutsToCapacityLessOne) {
    char16_t buffer[4];
    EXPECT_EQ(CopyTextBounded(buffer, 4, u"abcdef"), 3);
    EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(CopyTextBounded, NeverSplitsASurrogatePair) {
    const std::u16string text = u"ab\U0001F600cd";  // a, b, high, low, c, d
    char16_t buffer[4];
    EXPECT_EQ(CopyTextBounded(buffer, 4, text), 2);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    char16_t wider[5];
    EXPECT_EQ(CopyTextBounded(wider, 5, text), 4);
    EXPECT_EQ(std::u16string(wider), u"ab\U0001F600");
}

TEST(CopyTextBounded, StopsAtAnEmbeddedNul) {
    char16_t buffer[8];
    EXPECT_EQ(CopyTextBounded(buffer, 8, std::u16string_view(u"ab\0cd", 5)), 2);
    EXPECT_EQ(std::u16string(buffer), u"ab");
}

TEST(CopyTextBounded, NoRoomNoWrite) {
    char16_t buffer[1] = {u'x'};
    EXPECT_EQ(CopyTextBounded(buffer, 0, u"abc"), 0);
    EXPECT_EQ(buffer[0], u'x');
    EXPECT_EQ(CopyTextBounded(nullptr, 5, u"abc"), 0);
    EXPECT_EQ(CopyTextBounded(buffer, 1, u"abc"), 0);
    EXPECT_EQ(buffer[0], u'\0');
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

// ---- strings ----

TEST_F(Codec, StringForwardersReachTheStore) {
    EXPECT_EQ(store_.WriteString(kS, u"a", u"one", nullptr), 1);
    EXPECT_EQ(store_.WriteStringW(kS, u"b", u"two", nullptr), 1);
    EXPECT_EQ(store_.WriteStringA(kS, u"c", "\xD6\xD0", nullptr), 1);
    EXPECT_EQ(Stored(u"c"), u"\u4e2d");
    char16_t buffer[16];
    EXPECT_EQ(store_.ReadString(kS, u"a", nullptr, buffer, 16, nullptr), 3);
    EXPECT_EQ(std::u16string(buffer), u"one");
    EXPECT_EQ(store_.ReadStringW(kS, u"missing", u"dflt", buffer, 16, nullptr), 4);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(store_.GetString(kS, u"b", u"x", nullptr), u"two");
    EXPECT_EQ(store_.GetString(kS, u"none", u"x", nullptr), u"x");
}

TEST_F(Codec, ReadStringAConvertsBothWaysAndCutsWholeCharacters) {
    store_.Put(kS, u"t", u"a\u4e2d\u6587");
    char buffer[8];
    EXPECT_EQ(store_.ReadStringA(kS, u"t", "", buffer, 8, nullptr), 5);
    EXPECT_EQ(std::string(buffer), "a\xD6\xD0\xCE\xC4");
    char small[5];
    EXPECT_EQ(store_.ReadStringA(kS, u"t", "", small, 5, nullptr), 3);
    EXPECT_EQ(std::string(small), "a\xD6\xD0");
    EXPECT_EQ(store_.ReadStringA(kS, u"none", "\xCE\xC4", buffer, 8, nullptr), 2);
    EXPECT_EQ(std::string(buffer), "\xCE\xC4");
}

TEST_F(Codec, GetStringIsBoundedBy16384Units) {
    store_.Put(kS, u"long", std::u16string(20000, u'z'));
    EXPECT_EQ(store_.GetString(kS, u"long", nullptr, nullptr).size(), 16383u);
}

// ---- integers ----

TEST_F(Codec, IntWritesDecimalAndReadsSaturating) {
    store_.WriteInt(kS, u"a", -5, nullptr);
    EXPECT_EQ(Stored(u"a"), u"-5");
    EXPECT_EQ(store_.ReadInt(kS, u"a", 9, nullptr), -5);
    store_.Put(kS, u"big", u"99999999999");
    EXPECT_EQ(store_.ReadInt(kS, u"big", 0, nullptr), INT32_MAX);
    store_.Put(kS, u"small", u"-99999999999");
    EXPECT_EQ(store_.ReadInt(kS, u"small", 0, nullptr), INT32_MIN);
    store_.Put(kS, u"lead", u" \t+42abc");
    EXPECT_EQ(store_.ReadInt(kS, u"lead", 0, nullptr), 42);
    store_.Put(kS, u"word", u"abc");
    EXPECT_EQ(store_.ReadInt(kS, u"word", 7, nullptr), 0);
    store_.Put(kS, u"empty", u"");
    EXPECT_EQ(store_.ReadInt(kS, u"empty", 7, nullptr), 7);
    EXPECT_EQ(store_.ReadInt(kS, u"missing", 7, nullptr), 7);
}

TEST_F(Codec, UIntKeepsTheLow32BitsOfA64BitConversion) {
    store_.WriteUInt(kS, u"max", 4294967295u, nullptr);
    EXPECT_EQ(Stored(u"max"), u"4294967295");
    EXPECT_EQ(store_.ReadUInt(kS, u"max", 0, nullptr), 4294967295u);
    store_.Put(kS, u"neg", u"-1");
    EXPECT_EQ(store_.ReadUInt(kS, u"neg", 0, nullptr), 0xFFFFFFFFu);
    store_.Put(kS, u"wrap", u"4294967297");
    EXPECT_EQ(store_.ReadUInt(kS, u"wrap", 0, nullptr), 1u);
    EXPECT_EQ(store_.ReadUInt(kS, u"missing", 3, nullptr), 3u);
}

TEST_F(Codec, DwordIsTheUIntText) {
    store_.WriteDword(kS, u"d", 123456789u, nullptr);
    EXPECT_EQ(Stored(u"d"), u"123456789");
    EXPECT_EQ(store_.ReadDword(kS, u"d", 0, nullptr), 123456789u);
}

TEST_F(Codec, Int64RoundTripsAndSaturates) {
    store_.WriteInt64(kS, u"min", INT64_MIN, nullptr);
    EXPECT_EQ(Stored(u"min"), u"-9223372036854775808");
    EXPECT_EQ(store_.ReadInt64(kS, u"min", 0, nullptr), INT64_MIN);
    store_.Put(kS, u"over", u"99999999999999999999");
    EXPECT_EQ(store_.ReadInt64(kS, u"over", 0, nullptr), INT64_MAX);
    store_.Put(kS, u"under", u"-99999999999999999999");
    EXPECT_EQ(store_.ReadInt64(kS, u"under", 0, nullptr), INT64_MIN);
}

TEST_F(Codec, UInt64AboveTheSignedLimitReadsAsTheLimit) {
    store_.WriteUInt64(kS, u"u", 18446744073709551615ull, nullptr);
    EXPECT_EQ(Stored(u"u"), u"18446744073709551615");
    EXPECT_EQ(store_.ReadUInt64(kS, u"u", 0, nullptr), 9223372036854775807ull);
    store_.WriteUInt64(kS, u"v", 1234567890123ull, nullptr);
    EXPECT_EQ(store_.ReadUInt64(kS, u"v", 0, nullptr), 1234567890123ull);
}

TEST_F(Codec, HexWritesPrefixAndUpperCase) {
    store_.WriteHex(kS, u"h", 0xBEEF, nullptr);
    EXPECT_EQ(Stored(u"h"), u"0xBEEF");
    EXPECT_EQ(store_.ReadHex(kS, u"h", 0, nullptr), 0xBEEFu);
    store_.Put(kS, u"lower", u"0X1a");
    EXPECT_EQ(store_.ReadHex(kS, u"lower", 0, nullptr), 0x1Au);
    store_.Put(kS, u"bare", u"ff");
    EXPECT_EQ(store_.ReadHex(kS, u"bare", 0, nullptr), 0xFFu);
    store_.Put(kS, u"bad", u"zz");
    EXPECT_EQ(store_.ReadHex(kS, u"bad", 77, nullptr), 77u);
    store_.Put(kS, u"big", u"0x1FFFFFFFF");
    EXPECT_EQ(store_.ReadHex(kS, u"big", 0, nullptr), 0xFFFFFFFFu);
}

// ---- booleans ----

TEST_F(Codec, BoolTexts) {
    store_.WriteBool(kS, u"two", 2, nullptr);
    EXPECT_EQ(Stored(u"two"), u"true");
    store_.WriteBool(kS, u"zero", 0, nullptr);
    EXPECT_EQ(Stored(u"zero"), u"false");
    store_.Put(kS, u"caps", u"TRUE");
    EXPECT_EQ(store_.ReadBool(kS, u"caps", 0, nullptr), 1);
    store_.Put(kS, u"one", u"1");
    EXPECT_EQ(store_.ReadBool(kS, u"one", 1, nullptr), 0);
    store_.Put(kS, u"longer", u"trueish");
    EXPECT_EQ(store_.ReadBool(kS, u"longer", 1, nullptr), 0);
    EXPECT_EQ(store_.ReadBool(kS, u"zero", 1, nullptr), 0);
    EXPECT_EQ(store_.ReadBool(kS, u"missing", 7, nullptr), 7);
}

// ---- floating point ----

TEST_F(Codec, DoubleIsScientificWithThreeExponentDigits) {
    store_.WriteDouble(kS, u"d", 1.5, nullptr);
    EXPECT_EQ(Stored(u"d"), u"1.5000000000000000e+000");
    store_.WriteDouble(kS, u"e", -2.5e-300, nullptr);
    EXPECT_EQ(Stored(u"e"), u"-2.5000000000000000e-300");
    store_.WriteDouble(kS, u"f", 1e100, nullptr);
    EXPECT_EQ(Stored(u"f"), u"1.0000000000000000e+100");
}

TEST_F(Codec, DoubleRoundTripsExactly) {
    const double values[] = {0.0,
                             -0.0,
                             0.1,
                             1.0 / 3.0,
                             6.02214076e23,
                             -1.7976931348623157e308,
                             4.9406564584124654e-324,
                             123456789.125};
    for (double value : values) {
        store_.WriteDouble(kS, u"v", value, nullptr);
        const double back = store_.ReadDouble(kS, u"v", 42.0, nullptr);
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << value;
    }
}

TEST_F(Codec, DoubleReaderTakesDecimalTexts) {
    store_.Put(kS, u"old", u"2.5000000000000000e+00");
    EXPECT_EQ(store_.ReadDouble(kS, u"old", 0, nullptr), 2.5);
    store_.Put(kS, u"plain", u"  +12.75xyz");
    EXPECT_EQ(store_.ReadDouble(kS, u"plain", 0, nullptr), 12.75);
    store_.Put(kS, u"word", u"abc");
    EXPECT_EQ(store_.ReadDouble(kS, u"word", 9, nullptr), 0.0);
    store_.Put(kS, u"huge", u"1e999");
    EXPECT_TRUE(std::isinf(store_.ReadDouble(kS, u"huge", 0, nullptr)));
    store_.Put(kS, u"tiny", u"-1e-999");
    EXPECT_EQ(store_.ReadDouble(kS, u"tiny", 5, nullptr), 0.0);
    EXPECT_EQ(store_.ReadDouble(kS, u"missing", 9.5, nullptr), 9.5);
}

// ---- byte blocks ----

TEST_F(Codec, BytesWithCheckPair) {
    const uint8_t bytes[] = {0x01, 0x02, 0xFF};
    store_.WriteBytes(kS, u"b", bytes, 3, nullptr, 1);
    EXPECT_EQ(Stored(u"b"), u"0102FF02");
    store_.WriteBytes(kS, u"plain", bytes, 3, nullptr, 0);
    EXPECT_EQ(Stored(u"plain"), u"0102FF");
    uint8_t out[3] = {};
    int32_t length = 3;
    EXPECT_EQ(store_.ReadBytes(kS, u"b", out, &length, nullptr, 1), 1);
    EXPECT_EQ(std::memcmp(out, bytes, 3), 0);
    EXPECT_EQ(length, 3);
}

TEST_F(Codec, BytesWithWrongCheckFailAndZeroTheDestination) {
    store_.Put(kS, u"b", u"0102FF03");
    uint8_t out[3] = {9, 9, 9};
    int32_t length = 3;
    EXPECT_EQ(store_.ReadBytes(kS, u"b", out, &length, nullptr, 1), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
}

TEST_F(Codec, BytesReadAcceptLowerCase) {
    store_.Put(kS, u"b", u"0aff");
    uint8_t out[2] = {};
    int32_t length = 2;
    EXPECT_EQ(store_.ReadBytes(kS, u"b", out, &length, nullptr, 0), 1);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0xFF);
}

TEST_F(Codec, BytesMissingLeaveTheDestinationAndReportLengthZero) {
    uint8_t out[2] = {7, 8};
    int32_t length = 2;
    EXPECT_EQ(store_.ReadBytes(kS, u"none", out, &length, nullptr, 1), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 8);
}

TEST_F(Codec, BytesWithoutDestinationReportTheirLength) {
    store_.Put(kS, u"b", u"0102FF02");
    int32_t length = 0;
    EXPECT_EQ(store_.ReadBytes(kS, u"b", nullptr, &length, nullptr, 1), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(store_.ReadBytes(kS, u"b", nullptr, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 4);
}

TEST_F(Codec, BytesUnreadablePairRepeatsThePreviousByte) {
    store_.Put(kS, u"b", u"41zz");
    uint8_t out[3] = {};
    int32_t length = 3;  // the third pair lies past the text
    EXPECT_EQ(store_.ReadBytes(kS, u"b", out, &length, nullptr, 0), 1);
    EXPECT_EQ(out[0], 0x41);
    EXPECT_EQ(out[1], 0x41);
    EXPECT_EQ(out[2], 0x41);
}

// ---- pointers ----

TEST_F(Codec, PointerTexts) {
    store_.WritePointer(kS, u"p", 0x1234, nullptr);
    EXPECT_EQ(Stored(u"p"), u"0x00001234");
    EXPECT_EQ(store_.ReadPointer(kS, u"p", 0, nullptr), 0x1234u);
    store_.WritePointer(kS, u"wide", 0x123456789AULL, nullptr);
    EXPECT_EQ(Stored(u"wide"), u"0x123456789A");
    store_.Put(kS, u"caps", u"0X1f");
    EXPECT_EQ(store_.ReadPointer(kS, u"caps", 0, nullptr), 0x1Fu);
    store_.Put(kS, u"bare", u"DEADBEEF");
    EXPECT_EQ(store_.ReadPointer(kS, u"bare", 0, nullptr), 0xDEADBEEFu);
    store_.Put(kS, u"bad", u"xyz");
    EXPECT_EQ(store_.ReadPointer(kS, u"bad", 5, nullptr), 5u);
}

// ---- date-times ----

DateTimeValue At(int y, int mo, int d, int h, int mi, int s) {
    kem::settings::CivilDateTime civil{y, mo, d, h, mi, s};
    DateTimeValue value;
    EXPECT_TRUE(kem::settings::CivilToOleDate(civil, &value.date));
    return value;
}

TEST_F(Codec, DateTimeWritesTheStoreForm) {
    EXPECT_EQ(store_.WriteDateTime(kS, u"t", At(2024, 2, 29, 13, 45, 7), nullptr), 1);
    EXPECT_EQ(Stored(u"t"), u"2024-02-29 13:45:07");
    const DateTimeValue back = store_.ReadDateTime(kS, u"t", DateTimeValue{}, nullptr);
    EXPECT_EQ(back.status, kDateTimeValid);
    EXPECT_DOUBLE_EQ(back.date, At(2024, 2, 29, 13, 45, 7).date);
}

TEST_F(Codec, InvalidDateTimeIsNotWritten) {
    DateTimeValue invalid{45000.0, kDateTimeInvalid};
    EXPECT_EQ(store_.WriteDateTime(kS, u"t", invalid, nullptr), 0);
    DateTimeValue out_of_range{1e9, kDateTimeValid};
    EXPECT_EQ(store_.WriteDateTime(kS, u"u", out_of_range, nullptr), 0);
    EXPECT_EQ(store_.write_calls, 0);
}

TEST_F(Codec, MissingDateTimeGivesTheDefault) {
    const DateTimeValue dflt = At(2001, 9, 8, 7, 6, 5);
    const DateTimeValue value = store_.ReadDateTime(kS, u"none", dflt, nullptr);
    EXPECT_EQ(value.status, kDateTimeValid);
    EXPECT_DOUBLE_EQ(value.date, dflt.date);
}

TEST_F(Codec, UnparsableDateTimeIsInvalid) {
    store_.Put(kS, u"t", u"not a date");
    DateTimeValue value = store_.ReadDateTimeText(kS, u"t", u"", nullptr);
    EXPECT_EQ(value.status, kDateTimeInvalid);
    EXPECT_EQ(value.date, 0.0);
    store_.Put(kS, u"far", u"12345-01-01");
    value = store_.ReadDateTimeText(kS, u"far", u"", nullptr);
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
