// The ordering rules of the sortable list: how a header click moves the sort state, how two
// cells compare by their column's type, and the row order that results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How a column's cells compare.
enum class ListColumnType {
    kText,     // UTF-16 code units in order
    kInteger,  // the decimal value of the text; text without digits counts as 0
};

// The three sort states a column cycles through on repeated header clicks.
enum class ListSortState {
    kAscending = 0,
    kDescending = 1,
    kInsertion = 2,  // back to the order the rows were added in
};

// The arrow the header shows on the sort column.
enum class ListHeaderArrow { kNone, kUp, kDown };

// Which column the list is sorted on (none at first) and in which state.
struct ListSortKey {
    std::optional<int> column;
    ListSortState state = ListSortState::kAscending;

    bool operator==(const ListSortKey&) const = default;
};

// One row as sorting sees it: its item id (given when it was added) and the text of its cell in
// the sort column.
struct ListSortRow {
    int64_t item_id = 0;
    std::u16string text;
};

// The key after a click on the header of `column`: a click on the current sort column moves the
// state on (ascending, descending, insertion order, ascending ...); a click on another column
// keeps the state. Either way `column` becomes the sort column. Pure; any thread.
ListSortKey NextSortKey(const ListSortKey& current, int column);

// The decimal value of `text` as an integer column reads it: leading blanks, an optional sign,
// then digits up to the first other character; 0 when no digit follows. Saturates at the
// limits of int64_t. Pure; any thread.
int64_t ListIntegerValue(std::u16string_view text);

// <0, 0 or >0 as `a` sorts before, with or after `b` in a column of `type`. Pure; any thread.
int CompareListCells(std::u16string_view a, std::u16string_view b, ListColumnType type);

// The positions of `rows` in their sorted order under `state`: ascending or descending by the
// cell texts compared as `type`, or by item id for kInsertion. Rows whose cells compare equal
// keep the order of their item ids, so the result never depends on the rows' current order.
// Pure; any thread.
std::vector<size_t> SortedListOrder(const std::vector<ListSortRow>& rows, ListColumnType type,
                                    ListSortState state);

// The header arrow of the sort column in `state`: up for ascending, down for descending, none
// for insertion order. Pure; any thread.
ListHeaderArrow ListArrowFor(ListSortState state);
