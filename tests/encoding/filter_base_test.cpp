// The filter base: copying, output in pieces, chaining, direction, open/release, and the
// parameter access every filter inherits.
#include "encoding/filter_base.h"

#include <gtest/gtest.h>

#include <cstring>

#include "encoding/filter_test_support.h"
#include "encoding/utf8_filter.h"

using namespace kem::encoding::test;

namespace {

// A filter with one parameter of each kind, to exercise the parameter access of the base.
class ParamFilter : public CKemFilterBaseClass {
public:
    FilterStatus GetParamTable(const FilterParam** table, uint32_t* count) override {
        if (m_params.empty()) {
            m_params = {
                {u"Number", kFilterParamInt32, kFilterParamWritable, &number, 4, u"n"},
                {u"Fixed", kFilterParamUInt32, 0, &fixed, 4, u"f"},
                {u"Narrow", kFilterParamText8, kFilterParamWritable, narrow, sizeof narrow, u"t"},
                {u"Wide", kFilterParamText16, kFilterParamWritable, wide, sizeof wide, u"w"},
                {u"Broken", kFilterParamInt32, kFilterParamWritable, nullptr, 4, u"b"},
                {u"Strange", 77, kFilterParamWritable, &number, 4, u"s"},
                {u"Private", 0x0F000001, kFilterParamWritable, nullptr, 0, u"p"},
            };
        }
        return PublishParamTable(table, count);
    }

    int32_t number = 0;
    uint32_t fixed = 42;
    char narrow[8] = {};
    char16_t wide[4] = {};
};

TEST(FilterBaseTest, CopiesBytesUnchangedAndOutputReportsWhatRemains) {
    CKemFilterBaseClass filter;
    EXPECT_EQ(std::u16string_view(filter.name()), u"Filter_Base");
    EXPECT_EQ(Feed(filter, std::string("a\0\xFF", 3)), FilterStatus::kOk);
    EXPECT_EQ(Drain(filter), std::string("a\0\xFF", 3));
    EXPECT_TRUE(Pending(filter).empty());
    Feed(filter, "abcde");
    char out[3] = {};
    uint32_t count = 0;
    EXPECT_EQ(filter.Output(out, 3, &count), FilterStatus::kBufferOverflow);
    EXPECT_EQ(std::string(out, count), "abc");
    EXPECT_EQ(filter.Output(out, 3, &count), FilterStatus::kOk);
    EXPECT_EQ(std::string(out, count), "de");
    Feed(filter, "x");
    count = 9;
    EXPECT_EQ(filter.Output(nullptr, 3, &count), FilterStatus::kOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Drain(filter), "x");
}

TEST(FilterBaseTest, NextFilterReceivesTheWholeOutput) {
    CKemFilterBaseClass first;
    CKemFilterUTF8ToUCS second;
    first.set_next(&second);
    Feed(first, "\xE4\xB8");
    EXPECT_TRUE(Drain(first).empty());
    Feed(first, "\xAD");
    EXPECT_EQ(Units(Drain(second)), u"中");
}

TEST(FilterBaseTest, NewDirectionResetsTheBuffersAndReleaseFreesThem) {
    CKemFilterUTF8ToUCS filter;
    Feed(filter, "\xE4");
    filter.SetDirection(0);
    EXPECT_EQ(Pending(filter), "\xE4") << "the same direction keeps them";
    filter.SetDirection(1);
    EXPECT_TRUE(Pending(filter).empty());
    EXPECT_EQ(filter.direction(), 1u);
    CKemFilterBaseClass base;
    EXPECT_EQ(base.Open(), 1u);
    EXPECT_TRUE(base.is_open());
    Feed(base, "abc");
    EXPECT_EQ(base.Release(), 1u);
    EXPECT_FALSE(base.is_open());
    EXPECT_EQ(base.GetOutputBuffer()->size(), 0u);
    EXPECT_EQ(base.GetOutputBuffer()->data(), nullptr);
}

TEST(FilterBaseTest, ParametersAreFoundIgnoringCaseAndScalarsReadAndWrite) {
    CKemFilterBaseClass base;
    FilterParam found;
    int32_t value = 7;
    EXPECT_EQ(base.FindParam(&found, u"Anything"), FilterStatus::kUnknownProperty);
    EXPECT_EQ(base.SetParam(u"Anything", &value, 4), FilterStatus::kUnknownProperty);
    ParamFilter filter;
    ASSERT_EQ(filter.FindParam(&found, u"nUMBER"), FilterStatus::kOk);
    EXPECT_EQ(found.value, &filter.number);
    EXPECT_EQ(filter.FindParam(&found, u"Numbe"), FilterStatus::kUnknownProperty);
    EXPECT_EQ(filter.FindParam(nullptr, u"Number"), FilterStatus::kInternalError);
    EXPECT_EQ(filter.SetParam(u"Number", &value, 4), FilterStatus::kOk);
    EXPECT_EQ(filter.number, 7);
    int32_t read = 0;
    EXPECT_EQ(filter.GetParam(u"number", &read, 4), FilterStatus::kOk);
    EXPECT_EQ(read, 7);
    EXPECT_EQ(filter.SetParam(u"Number", &value, 2), FilterStatus::kInvalidParameter);
    EXPECT_EQ(filter.SetParam(u"Number", nullptr, 4), FilterStatus::kInvalidParameter);
    EXPECT_EQ(filter.SetParam(u"Fixed", &value, 4), FilterStatus::kAccessDenied);
    EXPECT_EQ(filter.fixed, 42u);
    EXPECT_EQ(filter.GetParam(u"Fixed", &read, 4), FilterStatus::kOk);
    EXPECT_EQ(read, 42);
    EXPECT_EQ(filter.AccessParam(nullptr, false, &value, 4), FilterStatus::kInvalidParameter);
    EXPECT_EQ(filter.SetParam(u"Broken", &value, 4), FilterStatus::kInternalError);
    EXPECT_EQ(filter.SetParam(u"Strange", &value, 4), FilterStatus::kInternalError);
    EXPECT_EQ(filter.SetParam(u"Private", &value, 4), FilterStatus::kUnknownProperty);
}

TEST(FilterBaseTest, TextParametersAreBoundedAndTerminated) {
    ParamFilter filter;
    EXPECT_EQ(filter.SetParam(u"Narrow", "1234567", -1), FilterStatus::kOk);
    EXPECT_EQ(filter.SetParam(u"Narrow", "12345678", -1), FilterStatus::kNotEnoughMemory);
    EXPECT_EQ(filter.SetParam(u"Narrow", "12345678", 8), FilterStatus::kNotEnoughMemory);
    EXPECT_EQ(filter.SetParam(u"Narrow", "12345678", 9), FilterStatus::kNotEnoughMemory);
    EXPECT_STREQ(filter.narrow, "1234567");
    EXPECT_EQ(filter.SetParam(u"Narrow", "xy", 1), FilterStatus::kOk);
    EXPECT_STREQ(filter.narrow, "x");
    EXPECT_EQ(filter.SetParam(u"Narrow", "xyz", 2), FilterStatus::kOk);
    EXPECT_STREQ(filter.narrow, "xy");
    char out[8];
    std::memset(out, 'Q', sizeof out);
    EXPECT_EQ(filter.GetParam(u"Narrow", out, 3), FilterStatus::kOk);
    EXPECT_STREQ(out, "xy");
    EXPECT_EQ(filter.GetParam(u"Narrow", out, 2), FilterStatus::kNotEnoughMemory);
    EXPECT_EQ(filter.GetParam(u"Narrow", out, 0), FilterStatus::kInternalError);

    EXPECT_EQ(filter.SetParam(u"Wide", u"中文", -1), FilterStatus::kOk);
    EXPECT_EQ(std::u16string_view(filter.wide), u"中文");
    EXPECT_EQ(filter.SetParam(u"Wide", u"abcd", -1), FilterStatus::kNotEnoughMemory);
    char16_t wide_out[3] = {u'Q', u'Q', u'Q'};
    EXPECT_EQ(filter.GetParam(u"Wide", wide_out, sizeof wide_out), FilterStatus::kOk);
    EXPECT_EQ(std::u16string_view(wide_out), u"中文");
    EXPECT_EQ(filter.GetParam(u"Wide", wide_out, 5), FilterStatus::kNotEnoughMemory);
}

}  // namespace
