#include "terminal/list_sort.h"

#include <algorithm>
#include <limits>
#include <numeric>

ListSortKey NextSortKey(const ListSortKey& current, int column) {
    ListSortKey next = current;
    if (current.column == column) {
        next.state = static_cast<ListSortState>((static_cast<int>(current.state) + 1) % 3);
    }
    next.column = column;
    return next;
}

int64_t ListIntegerValue(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate toward the sign's side so the most negative value is reachable too.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i] - u'0';
        if (negative) {
            if (value < (kMin + digit) / 10) {
                return kMin;
            }
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) {
                return kMax;
            }
            value = value * 10 + digit;
        }
    }
    return value;
}

int CompareListCells(std::u16string_view a, std::u16string_view b, ListColumnType type) {
    if (type == ListColumnType::kInteger) {
        const int64_t x = ListIntegerValue(a);
        const int64_t y = ListIntegerValue(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    // char16_t compares as unsigned code units, which is the order wanted.
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::vector<size_t> SortedListOrder(const std::vector<ListSortRow>& rows, ListColumnType type,
                                    ListSortState state) {
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t l, size_t r) {
        const ListSortRow& a = rows[l];
        const ListSortRow& b = rows[r];
        if (state != ListSortState::kInsertion) {
            int c = CompareListCells(a.text, b.text, type);
            if (state == ListSortState::kDescending) {
                c = -c;
            }
            if (c != 0) {
                return c < 0;
            }
        }
        if (a.item_id != b.item_id) {
            return a.item_id < b.item_id;
        }
        return l < r;
    });
    return order;
}

ListHeaderArrow ListArrowFor(ListSortState state) {
    switch (state) {
        case ListSortState::kAscending:
            return ListHeaderArrow::kUp;
        case ListSortState::kDescending:
            return ListHeaderArrow::kDown;
        case ListSortState::kInsertion:
            break;
    }
    return ListHeaderArrow::kNone;
}
