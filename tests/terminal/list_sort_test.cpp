// Sorting rules of the list: the three-state header cycle, typed comparison and row order.
#include "terminal/list_sort.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(ListSortTest, HeaderClicksCycleOnTheSameColumnAndKeepStateOnAnother) {
    ListSortKey key;
    EXPECT_FALSE(key.column.has_value());
    using enum ListSortState;
    for (const auto& [column, want] : {std::pair{1, ListSortKey{1, kAscending}},
                                       {1, ListSortKey{1, kDescending}},
                                       {1, ListSortKey{1, kInsertion}},
                                       {1, ListSortKey{1, kAscending}},
                                       {1, ListSortKey{1, kDescending}},
                                       {3, ListSortKey{3, kDescending}}}) {  // takes the state over
        key = NextSortKey(key, column);
        EXPECT_EQ(key, want);
    }
}

TEST(ListSortTest, IntegerValueReadsLeadingDecimalDigits) {
    EXPECT_EQ(ListIntegerValue(u"255"), 255);
    EXPECT_EQ(ListIntegerValue(u"  -12abc"), -12);
    EXPECT_EQ(ListIntegerValue(u"+7"), 7);
    EXPECT_EQ(ListIntegerValue(u"abc"), 0);
    EXPECT_EQ(ListIntegerValue(u""), 0);
    EXPECT_EQ(ListIntegerValue(u"-"), 0);
    EXPECT_EQ(ListIntegerValue(u"12 34"), 12);
    EXPECT_EQ(ListIntegerValue(u"99999999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ListIntegerValue(u"-99999999999999999999999"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ListIntegerValue(u"-9223372036854775808"), std::numeric_limits<int64_t>::min());
}

TEST(ListSortTest, CellsCompareByColumnType) {
    // As text "10" sorts before "9"; as integers after it.
    EXPECT_LT(CompareListCells(u"10", u"9", ListColumnType::kText), 0);
    EXPECT_GT(CompareListCells(u"10", u"9", ListColumnType::kInteger), 0);
    EXPECT_EQ(CompareListCells(u"x", u"0", ListColumnType::kInteger), 0);
    EXPECT_EQ(CompareListCells(u"CR", u"CR", ListColumnType::kText), 0);
    // Code units in order: lower case after upper case, U+00FF after 'z', empty first.
    EXPECT_LT(CompareListCells(u"Z", u"a", ListColumnType::kText), 0);
    EXPECT_GT(CompareListCells(u"\u00FF", u"z", ListColumnType::kText), 0);
    EXPECT_LT(CompareListCells(u"", u"A", ListColumnType::kText), 0);
    EXPECT_LT(CompareListCells(u"AB", u"ABC", ListColumnType::kText), 0);
}

std::vector<std::u16string> TextsInOrder(const std::vector<ListSortRow>& rows,
                                         const std::vector<size_t>& order) {
    std::vector<std::u16string> texts;
    for (size_t i : order) {
        texts.push_back(rows[i].text);
    }
    return texts;
}

TEST(ListSortTest, OrderAndArrowFollowStateAndInsertionOrderIsRestored) {
    // Rows in a shuffled current order; item ids say where each was added.
    const std::vector<ListSortRow> rows = {
        {2, u"9"}, {0, u"100"}, {3, u"9"}, {1, u"20"}, {4, u"abc"},
    };
    EXPECT_EQ(TextsInOrder(
                  rows, SortedListOrder(rows, ListColumnType::kInteger, ListSortState::kAscending)),
              (std::vector<std::u16string>{u"abc", u"9", u"9", u"20", u"100"}));
    EXPECT_EQ(TextsInOrder(rows, SortedListOrder(rows, ListColumnType::kInteger,
                                                 ListSortState::kDescending)),
              (std::vector<std::u16string>{u"100", u"20", u"9", u"9", u"abc"}));
    EXPECT_EQ(
        TextsInOrder(rows, SortedListOrder(rows, ListColumnType::kText, ListSortState::kAscending)),
        (std::vector<std::u16string>{u"100", u"20", u"9", u"9", u"abc"}));
    EXPECT_EQ(SortedListOrder(rows, ListColumnType::kInteger, ListSortState::kInsertion),
              (std::vector<size_t>{1, 3, 0, 2, 4}));
    // Equal cells keep item-id order in both directions: rows 0 (id 2) then 2 (id 3).
    const auto up = SortedListOrder(rows, ListColumnType::kInteger, ListSortState::kAscending);
    EXPECT_EQ(up[1], 0u);
    EXPECT_EQ(up[2], 2u);
    const auto down = SortedListOrder(rows, ListColumnType::kInteger, ListSortState::kDescending);
    EXPECT_EQ(down[2], 0u);
    EXPECT_EQ(down[3], 2u);
    EXPECT_TRUE(SortedListOrder({}, ListColumnType::kText, ListSortState::kAscending).empty());
    EXPECT_EQ(std::tuple(ListArrowFor(ListSortState::kAscending),
                         ListArrowFor(ListSortState::kDescending),
                         ListArrowFor(ListSortState::kInsertion)),
              std::tuple(ListHeaderArrow::kUp, ListHeaderArrow::kDown, ListHeaderArrow::kNone));
}

}  // namespace
