#include "ui/kem_list_ctrl.h"

#include <QHeaderView>

#include <vector>

namespace {

// Where the item id lives: beside the first cell's text and check box.
constexpr int kItemIdRole = Qt::UserRole + 100;

}  // namespace

CKemListCtrl::CKemListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setColumnCount(0);
    // Sorting is ours, not the view's: the view's own sort would ignore the column types.
    setSortingEnabled(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &CKemListCtrl::OnHeaderClicked);
}

int CKemListCtrl::AddColumn(const QString& heading, int width) {
    const int column = columnCount();
    setColumnCount(column + 1);
    QTreeWidgetItem* head = headerItem();
    head->setText(column, heading);
    head->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(column, width);
    return column;
}

QTreeWidgetItem* CKemListCtrl::AppendRow(const QStringList& cells) {
    auto* item = new QTreeWidgetItem;
    for (int i = 0; i < cells.size() && i < columnCount(); ++i) {
        item->setText(i, cells[i]);
    }
    item->setData(0, kItemIdRole, QVariant::fromValue<qint64>(next_item_id_++));
    ApplyColours(item);
    addTopLevelItem(item);
    return item;
}

int64_t CKemListCtrl::ItemId(const QTreeWidgetItem* item) {
    if (item == nullptr) {
        return -1;
    }
    const QVariant id = item->data(0, kItemIdRole);
    return id.isValid() ? id.toLongLong() : -1;
}

void CKemListCtrl::SetColumnType(int column, ListColumnType type) {
    column_types_[column] = type;
}

ListColumnType CKemListCtrl::ColumnType(int column) const {
    const auto found = column_types_.find(column);
    return found == column_types_.end() ? ListColumnType::kText : found->second;
}

void CKemListCtrl::OnHeaderClicked(int column) {
    if (!sort_enabled_ || column < 0 || column >= columnCount()) {
        return;
    }
    sort_key_ = NextSortKey(sort_key_, column);
    SortRows();
    ShowArrow();
}

ListHeaderArrow CKemListCtrl::HeaderArrow(int column) const {
    if (!sort_key_.column || *sort_key_.column != column) {
        return ListHeaderArrow::kNone;
    }
    return ListArrowFor(sort_key_.state);
}

void CKemListCtrl::SortRows() {
    const int column = *sort_key_.column;
    std::vector<ListSortRow> rows;
    rows.reserve(static_cast<size_t>(topLevelItemCount()));
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        rows.push_back({ItemId(item), item->text(column).toStdU16String()});
    }
    const std::vector<size_t> order = SortedListOrder(rows, ColumnType(column), sort_key_.state);
    QTreeWidgetItem* current = currentItem();
    const QList<QTreeWidgetItem*> selected = selectedItems();
    // Taking the items out keeps each one whole (check box, item id, colours).
    QList<QTreeWidgetItem*> taken;
    while (topLevelItemCount() > 0) {
        taken.prepend(takeTopLevelItem(topLevelItemCount() - 1));
    }
    QList<QTreeWidgetItem*> sorted;
    sorted.reserve(taken.size());
    for (size_t index : order) {
        sorted.append(taken[static_cast<int>(index)]);
    }
    addTopLevelItems(sorted);
    if (current != nullptr) {
        setCurrentItem(current);
    }
    for (QTreeWidgetItem* item : selected) {
        item->setSelected(true);
    }
}

void CKemListCtrl::ShowArrow() {
    // The header's ascending indicator stands for the up arrow, descending for the down one.
    switch (HeaderArrow(*sort_key_.column)) {
        case ListHeaderArrow::kUp:
            header()->setSortIndicator(*sort_key_.column, Qt::AscendingOrder);
            header()->setSortIndicatorShown(true);
            break;
        case ListHeaderArrow::kDown:
            header()->setSortIndicator(*sort_key_.column, Qt::DescendingOrder);
            header()->setSortIndicatorShown(true);
            break;
        case ListHeaderArrow::kNone:
            header()->setSortIndicatorShown(false);
            break;
    }
}

void CKemListCtrl::SetItemColorInfo(int64_t item_id, int column,
                                    const tagKemListItemColorInfo& info) {
    colours_[{item_id, column}] = info;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (ItemId(topLevelItem(i)) == item_id) {
            ApplyColours(topLevelItem(i));
        }
    }
}

std::optional<tagKemListItemColorInfo> CKemListCtrl::ItemColorInfo(int64_t item_id,
                                                                   int column) const {
    const auto found = colours_.find({item_id, column});
    if (found == colours_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void CKemListCtrl::ApplyColours(QTreeWidgetItem* item) const {
    const int64_t id = ItemId(item);
    for (int column = 0; column < columnCount(); ++column) {
        const auto found = colours_.find({id, column});
        if (found == colours_.end()) {
            continue;
        }
        const tagKemListItemColorInfo& info = found->second;
        item->setData(column, Qt::ForegroundRole,
                      info.text_set ? QVariant(QBrush(info.text)) : QVariant());
        item->setData(column, Qt::BackgroundRole,
                      info.background_set ? QVariant(QBrush(info.background)) : QVariant());
    }
}
