// A report-style list with typed columns that sorts on header clicks in three states:
// ascending, descending, then back to the order the rows were added in.
#pragma once

#include <QColor>
#include <QStringList>
#include <QTreeWidget>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "terminal/list_sort.h"

// Colours of one cell; a colour is used only when its flag is set.
struct tagKemListItemColorInfo {
    QColor text;
    bool text_set = false;
    QColor background;
    bool background_set = false;
};

// Rows carry an item id (the order they were added in) that survives sorting, so the row
// order can always be restored. Window's thread only.
class CKemListCtrl : public QTreeWidget {
    Q_OBJECT

public:
    explicit CKemListCtrl(QWidget* parent = nullptr);

    // Adds a left-aligned column titled `heading`, `width` pixels wide; returns its index.
    int AddColumn(const QString& heading, int width);

    // Appends a row with `cells` (missing cells stay empty) and gives it the next item id.
    // Returns the row's item, owned by the list.
    QTreeWidgetItem* AppendRow(const QStringList& cells);

    // The item id `item` got when it was appended; -1 for an item the list did not append.
    static int64_t ItemId(const QTreeWidgetItem* item);

    // How column `column` compares when sorted; columns never set sort as text.
    void SetColumnType(int column, ListColumnType type);
    ListColumnType ColumnType(int column) const;

    // Header clicks sort only while sorting is enabled (it is at first).
    void SetSortEnabled(bool enabled) { sort_enabled_ = enabled; }
    bool IsSortEnabled() const { return sort_enabled_; }

    // What a header click on `column` does: moves the sort key on (see NextSortKey), reorders
    // the rows and sets the header arrows. Nothing while sorting is disabled.
    void OnHeaderClicked(int column);

    // The current sort column and state.
    const ListSortKey& SortKey() const { return sort_key_; }

    // The arrow the header shows on `column` (none on every column but the sort column).
    ListHeaderArrow HeaderArrow(int column) const;

    // Colours for the cell of item `item_id` in `column`, applied at once and kept for rows
    // appended later with that id.
    void SetItemColorInfo(int64_t item_id, int column, const tagKemListItemColorInfo& info);
    std::optional<tagKemListItemColorInfo> ItemColorInfo(int64_t item_id, int column) const;

private:
    void SortRows();
    void ShowArrow();
    void ApplyColours(QTreeWidgetItem* item) const;

    int64_t next_item_id_ = 0;
    ListSortKey sort_key_;
    bool sort_enabled_ = true;
    std::map<int, ListColumnType> column_types_;
    std::map<std::pair<int64_t, int>, tagKemListItemColorInfo> colours_;
};
