#include "quarry/views/category_model.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace quarry::views {

CategoryModel::CategoryModel(QObject* parent) : QAbstractTableModel(parent) {
  collator_.setNumericMode(true);
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

bool CategoryModel::RowBefore(qsizetype a, qsizetype b) const {
  if (sortColumn_ >= 0) {
    const int order = collator_.compare(CellText(a, sortColumn_), CellText(b, sortColumn_));
    if (order != 0) return sortOrder_ == Qt::AscendingOrder ? order < 0 : order > 0;
  }
  return a < b;  // equal texts keep their arrival order
}

void CategoryModel::sort(int column, Qt::SortOrder order) {
  sortColumn_ = column < columnCount() ? column : -1;
  sortOrder_ = order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Selections and the current row follow their items to the new rows.
  const QModelIndexList before = persistentIndexList();
  std::vector<qsizetype> items;
  for (const QModelIndex& index : before) items.push_back(ItemAtRow(index.row()));
  std::stable_sort(rows_.begin(), rows_.end(), [this](qsizetype a, qsizetype b) { return RowBefore(a, b); });
  QModelIndexList after;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto found = std::find(rows_.begin(), rows_.end(), items[i]);
    after.append(found == rows_.end() ? QModelIndex()
                                      : index(static_cast<int>(found - rows_.begin()), before[static_cast<qsizetype>(i)].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int CategoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CategoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(HeaderTexts().size());
}

const QStringList& CategoryModel::HeaderTexts() const {
  // The language does not change while the program runs: asked once.
  if (!headersKnown_) {
    headers_ = Headers();
    headersKnown_ = true;
  }
  return headers_;
}

qsizetype CategoryModel::ItemAtRow(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return -1;
  return rows_[static_cast<std::size_t>(row)];
}

QVariant CategoryModel::data(const QModelIndex& index, int role) const {
  const qsizetype item = index.isValid() ? ItemAtRow(index.row()) : -1;
  if (item < 0) return {};
  switch (role) {
    case Qt::DisplayRole:
      return CellText(item, index.column());
    case Qt::CheckStateRole:
      if (index.column() != 0) return {};
      return IsChecked(item) ? Qt::Checked : Qt::Unchecked;
    case Qt::ForegroundRole:
      return ItemDeleted(item) ? QBrush(QColor(255, 0, 0)) : QBrush(Qt::black);
    case kDeletedRole:
      return ItemDeleted(item);
    case kItemRole:
      return QVariant::fromValue<qlonglong>(item);
    default:
      return {};
  }
}

bool CategoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const qsizetype item = index.isValid() ? ItemAtRow(index.row()) : -1;
  if (item < 0 || role != Qt::CheckStateRole || index.column() != 0) return false;
  SetChecked(item, value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

Qt::ItemFlags CategoryModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant CategoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const QStringList& headers = HeaderTexts();
  return section >= 0 && section < headers.size() ? QVariant(headers[section]) : QVariant();
}

bool CategoryModel::IsChecked(qsizetype item) const {
  return item >= 0 && static_cast<std::size_t>(item) < checked_.size() &&
         checked_[static_cast<std::size_t>(item)];
}

void CategoryModel::SetChecked(qsizetype item, bool checked) {
  if (item < 0 || static_cast<std::size_t>(item) >= checked_.size() || IsChecked(item) == checked) return;
  checked_[static_cast<std::size_t>(item)] = checked;
  const qint64 size = ItemSize(item);
  checkedCount_ += checked ? 1 : -1;
  checkedSize_ += checked ? size : -size;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row] == item) {
      const QModelIndex cell = this->index(static_cast<int>(row), 0);
      emit dataChanged(cell, cell, {Qt::CheckStateRole});
      break;
    }
  }
  emit SelectionChanged(checked ? 1 : -1, checked ? size : -size);
}

void CategoryModel::CheckAll(bool checked) {
  qint64 count = 0;
  qint64 size = 0;
  for (const qsizetype item : rows_) {
    if (IsChecked(item) == checked) continue;
    checked_[static_cast<std::size_t>(item)] = checked;
    count += checked ? 1 : -1;
    size += checked ? ItemSize(item) : -ItemSize(item);
  }
  checkedCount_ += count;
  checkedSize_ += size;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  if (count != 0) emit SelectionChanged(count, size);
}

void CategoryModel::CheckDeletedOnly() {
  for (qsizetype item = 0; item < FoundCount(); ++item) SetChecked(item, ItemDeleted(item));
}

void CategoryModel::InvertCheck() {
  qint64 count = 0;
  qint64 size = 0;
  for (const qsizetype item : rows_) {
    const bool now = !IsChecked(item);
    checked_[static_cast<std::size_t>(item)] = now;
    count += now ? 1 : -1;
    size += now ? ItemSize(item) : -ItemSize(item);
  }
  checkedCount_ += count;
  checkedSize_ += size;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  if (count != 0) emit SelectionChanged(count, size);
}

void CategoryModel::ShowDeletedOnly(bool deletedOnly) {
  deletedOnly_ = deletedOnly;
  Rebuild();
}

void CategoryModel::SearchText(const QString& text) {
  search_ = text.toLower();
  Rebuild();
}

void CategoryModel::Clear() {
  heldFinds_ = 0;
  beginResetModel();
  ClearItems();
  checked_.clear();
  rows_.clear();
  checkedCount_ = 0;
  checkedSize_ = 0;
  foundSize_ = 0;
  endResetModel();
}

void CategoryModel::HoldFinds(bool hold) {
  holdFinds_ = hold;
  if (hold || heldFinds_ == 0) return;
  const qsizetype held = heldFinds_;
  heldFinds_ = 0;
  ShowAppended(held);
}

void CategoryModel::ItemsAppended(qsizetype count) {
  if (count <= 0) return;
  if (holdFinds_) {
    heldFinds_ += count;
    return;
  }
  ShowAppended(count);
}

void CategoryModel::ShowAppended(qsizetype count) {
  const qsizetype first = static_cast<qsizetype>(checked_.size());
  checked_.resize(checked_.size() + static_cast<std::size_t>(count), true);
  qint64 size = 0;
  for (qsizetype item = first; item < first + count; ++item) size += ItemSize(item);
  checkedCount_ += count;
  checkedSize_ += size;
  foundSize_ += size;
  if (sortColumn_ < 0) {
    // Arrival order: the visible ones of the batch go to the end in one insertion,
    // so a view of many thousand items fills without a signal per item.
    std::vector<qsizetype> visible;
    for (qsizetype item = first; item < first + count; ++item) {
      if (Visible(item)) visible.push_back(item);
    }
    if (!visible.empty()) {
      const int row = static_cast<int>(rows_.size());
      beginInsertRows(QModelIndex(), row, row + static_cast<int>(visible.size()) - 1);
      rows_.insert(rows_.end(), visible.begin(), visible.end());
      endInsertRows();
    }
  } else {
    for (qsizetype item = first; item < first + count; ++item) {
      if (!Visible(item)) continue;
      const auto at = std::upper_bound(rows_.begin(), rows_.end(), item,
                                       [this](qsizetype a, qsizetype b) { return RowBefore(a, b); });
      const int row = static_cast<int>(at - rows_.begin());
      beginInsertRows(QModelIndex(), row, row);
      rows_.insert(at, item);
      endInsertRows();
    }
  }
  emit ItemsFound(count, size);
}

bool CategoryModel::Visible(qsizetype item) const {
  if (deletedOnly_ && !ItemDeleted(item)) return false;
  return search_.isEmpty() || ItemMatches(item, search_);
}

void CategoryModel::Rebuild() {
  beginResetModel();
  rows_.clear();
  for (qsizetype item = 0; item < FoundCount(); ++item) {
    if (Visible(item)) rows_.push_back(item);
  }
  std::stable_sort(rows_.begin(), rows_.end(), [this](qsizetype a, qsizetype b) { return RowBefore(a, b); });
  endResetModel();
}

}  // namespace quarry::views
