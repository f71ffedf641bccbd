// Base of the category view models: the list rows shown for the current
// filters, and the check state of every item. Checks belong to the items, so
// a filter or a search only changes which items have rows; a hidden checked
// item stays checked and is still recovered.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "quarry/views/category_export.h"
#include "sieve/record_visit.h"

namespace quarry::views {

// Caption and value lines of a detail pane.
using DetailRows = QList<std::pair<QString, QString>>;

class CategoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // True for an item recovered from deleted records (the list draws it red
  // with the deleted marker).
  static constexpr int kDeletedRole = Qt::UserRole + 1;
  // Position of the row's item in arrival order.
  static constexpr int kItemRole = Qt::UserRole + 2;

  explicit CategoryModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Orders the rows by a column's text (numbers in texts by value); a
  // negative column gives the arrival order back. Kept through filters and finds.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // Items found, whatever the filters and checks.
  qsizetype FoundCount() const { return static_cast<qsizetype>(checked_.size()); }
  qint64 FoundSize() const { return foundSize_; }
  qsizetype CheckedCount() const { return checkedCount_; }
  qint64 CheckedSize() const { return checkedSize_; }

  bool IsChecked(qsizetype item) const;
  void SetChecked(qsizetype item, bool checked);
  // The text of an item's column, whether it has a row or not.
  QString ItemCell(qsizetype item, int column) const { return CellText(item, column); }
  // The item shown in `row`, or -1.
  qsizetype ItemAtRow(int row) const;

  // Check or clear every item that has a row; hidden items keep their checks.
  void CheckAll(bool checked);
  // Checks exactly the items recovered from deleted records, shown or not.
  void CheckDeletedOnly();
  // Invert the checks of every item that has a row.
  void InvertCheck();
  void ShowDeletedOnly(bool deletedOnly);
  void SearchText(const QString& text);
  bool DeletedOnly() const { return deletedOnly_; }
  QString Search() const { return search_; }

  // Removes every item (a new scan starts).
  void Clear();

  // While held, found items are stored but get their rows and their report in one go
  // when the hold ends: a burst of finds costs the view one insertion, not one each.
  void HoldFinds(bool hold);

  // Takes what it keeps of a record the scan delivered to this category; a record of
  // another structure is ignored.
  virtual void AddRecord(const sieve::AnyRecord& record) = 0;
  // The detail pane's lines for an item; none when the view has no detail pane.
  virtual DetailRows Detail(qsizetype /*item*/) const { return {}; }

  // A copy of the checked items (in arrival order) that can write them.
  virtual std::unique_ptr<CategoryExport> SnapshotChecked() const = 0;

 signals:
  // Items were checked (positive) or cleared (negative) by the user.
  void SelectionChanged(qint64 countDelta, qint64 sizeDelta);
  // Items were found (`size` bytes in all); they arrive checked.
  void ItemsFound(qint64 count, qint64 size);

 protected:
  virtual QStringList Headers() const = 0;
  virtual QString CellText(qsizetype item, int column) const = 0;
  virtual bool ItemDeleted(qsizetype item) const = 0;
  // `lowerText` is lower-case and not empty.
  virtual bool ItemMatches(qsizetype item, const QString& lowerText) const = 0;
  virtual qint64 ItemSize(qsizetype /*item*/) const { return 0; }
  virtual void ClearItems() = 0;

  // The subclass calls this right after storing new items at the end of its
  // list: they are checked, get rows when the filters let them, and are reported.
  void ItemsAppended(qsizetype count);
  void ItemAppended() { ItemsAppended(1); }

 private:
  void ShowAppended(qsizetype count);

 protected:

 private:
  bool Visible(qsizetype item) const;
  void Rebuild();
  // True when item a's row comes before item b's in the current order.
  bool RowBefore(qsizetype a, qsizetype b) const;

  const QStringList& HeaderTexts() const;

  bool holdFinds_ = false;
  qsizetype heldFinds_ = 0;  // stored while held, not yet shown

  mutable QStringList headers_;
  mutable bool headersKnown_ = false;
  std::vector<bool> checked_;      // per item, in arrival order
  std::vector<qsizetype> rows_;    // items that have a row, in arrival order
  qsizetype checkedCount_ = 0;
  qint64 checkedSize_ = 0;
  qint64 foundSize_ = 0;
  bool deletedOnly_ = false;
  QString search_;                 // lower-case
  int sortColumn_ = -1;            // -1: arrival order
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  QCollator collator_;
};

}  // namespace quarry::views
