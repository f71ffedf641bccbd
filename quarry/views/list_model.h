// The list model every category view is made of: a CategoryModel over a vector of
// the category's own items, shaped by a traits class. A new view writes its item,
// its traits and its export; filters, checks, sorting and the snapshot for a
// recovery come from here.
//
// Traits (all static):
//   using Record = sieve::...;   the record structure the category receives
//   using Item = ...;            what the view keeps of it
//   Take(const Record&, const ViewContext&, std::vector<Item>& out)  adds 0..n items
//   Headers(const ViewContext&) -> QStringList
//   Cell(const Item&, int column) -> QString
//   Matches(const Item&, const QString& lowerText) -> bool   (lowerText lower-case, not empty)
//   Export(std::vector<Item> checked, const ViewContext&) -> std::unique_ptr<CategoryExport>
// and optionally
//   Deleted(const Item&) -> bool          (default: the item's Deleted member)
//   Size(const Item&) -> qint64           bytes it counts for in the totals (default: 0)
//   Detail(const Item&, const ViewContext&) -> QList<std::pair<QString, QString>>   for a detail pane
#pragma once

#include <concepts>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "quarry/views/category_model.h"
#include "quarry/views/view_context.h"

namespace quarry::views {

template <class Traits>
concept HasDetail = requires(const typename Traits::Item& item, const ViewContext& context) {
  { Traits::Detail(item, context) } -> std::convertible_to<DetailRows>;
};

template <class Traits>
concept HasDeleted = requires(const typename Traits::Item& item) {
  { Traits::Deleted(item) } -> std::convertible_to<bool>;
};

template <class Traits>
concept HasSize = requires(const typename Traits::Item& item) {
  { Traits::Size(item) } -> std::convertible_to<qint64>;
};

template <class Traits>
class ListModel : public CategoryModel {
 public:
  using Record = typename Traits::Record;
  using ItemType = typename Traits::Item;

  explicit ListModel(ViewContext context, QObject* parent = nullptr)
      : CategoryModel(parent), context_(std::move(context)) {}

  void AddRecord(const sieve::AnyRecord& record) override {
    if (const Record* r = std::get_if<Record>(&record)) Add(*r);
  }

  void Add(const Record& record) {
    const std::size_t before = items_.size();
    Traits::Take(record, context_, items_);
    ItemsAppended(static_cast<qsizetype>(items_.size() - before));
  }

  const ItemType& Item(qsizetype item) const { return items_.at(static_cast<std::size_t>(item)); }
  const ViewContext& Context() const { return context_; }

  std::unique_ptr<CategoryExport> SnapshotChecked() const override {
    std::vector<ItemType> checked;
    checked.reserve(static_cast<std::size_t>(CheckedCount()));
    for (qsizetype i = 0; i < FoundCount(); ++i) {
      if (IsChecked(i)) checked.push_back(Item(i));
    }
    return Traits::Export(std::move(checked), context_);
  }

  DetailRows Detail(qsizetype item) const override {
    if constexpr (HasDetail<Traits>) {
      if (item >= 0 && item < FoundCount()) return Traits::Detail(Item(item), context_);
    }
    return {};
  }

 protected:
  QStringList Headers() const override { return Traits::Headers(context_); }
  QString CellText(qsizetype item, int column) const override { return Traits::Cell(Item(item), column); }
  bool ItemDeleted(qsizetype item) const override {
    if constexpr (HasDeleted<Traits>) {
      return Traits::Deleted(Item(item));
    } else {
      return Item(item).Deleted;
    }
  }
  bool ItemMatches(qsizetype item, const QString& lowerText) const override {
    return Traits::Matches(Item(item), lowerText);
  }
  qint64 ItemSize(qsizetype item) const override {
    if constexpr (HasSize<Traits>) {
      return Traits::Size(Item(item));
    } else {
      return 0;
    }
  }
  void ClearItems() override { items_.clear(); }

 private:
  ViewContext context_;
  std::vector<ItemType> items_;
};

// True when `lowerText` is part of any of the texts, compared in lower case.
template <class... Texts>
bool AnyContains(const QString& lowerText, const Texts&... texts) {
  return (... || texts.toLower().contains(lowerText));
}

}  // namespace quarry::views
