// Checks, filters and counts of the contacts model (the shared base does the work).
#include <gtest/gtest.h>

#include "quarry/views/contacts_model.h"

namespace quarry::views {
namespace {

sieve::ContactRecord Contact(const std::string& first, const std::string& last, bool deleted,
                             const std::string& phone = {}) {
  sieve::ContactRecord r;
  r.First = first;
  r.Last = last;
  r.Phone = phone;
  r.Deleted = deleted ? 1 : 0;
  return r;
}

class ContactsModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QObject::connect(&model_, &CategoryModel::SelectionChanged, [this](qint64 count, qint64) { reported_ += count; });
    QObject::connect(&model_, &CategoryModel::ItemsFound, [this](qint64 count, qint64) { found_ += static_cast<int>(count); });
    model_.AddContact(Contact("Joanna", "", false, "555"));
    model_.AddContact(Contact("Bob", "", true));
    model_.AddContact(Contact("", "", false));
    model_.AddContact(Contact("Ann", "Lee", true));
    model_.AddContact(Contact("Carl", "", false));
  }
  ContactsModel model_;
  qint64 reported_ = 0;
  int found_ = 0;
};

// Found items arrive checked (every registered model: category_table_test); here the
// counts and reports through filters, item by item.
TEST_F(ContactsModelTest, FindsAreNoChecksAndFiltersNeverLoseOrAddChecks) {
  EXPECT_EQ(found_, 5);
  EXPECT_EQ(reported_, 0);  // a find is not a user check
  EXPECT_EQ(model_.Item(2).Name, QStringLiteral("Unknown"));
  EXPECT_TRUE(model_.Item(2).NameUnknown);

  model_.SetChecked(1, false);  // Bob, deleted
  model_.ShowDeletedOnly(true);
  ASSERT_EQ(model_.rowCount(), 2);
  EXPECT_EQ(model_.ItemAtRow(0), 1);
  EXPECT_EQ(model_.data(model_.index(0, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
  EXPECT_EQ(model_.data(model_.index(1, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

  // Invert acts on visible rows only: Bob checked, Ann cleared; hidden items untouched.
  model_.InvertCheck();
  EXPECT_TRUE(model_.IsChecked(1));
  EXPECT_FALSE(model_.IsChecked(3));
  EXPECT_TRUE(model_.IsChecked(0));
  EXPECT_EQ(model_.CheckedCount(), 4);

  model_.ShowDeletedOnly(false);
  model_.SearchText(QStringLiteral("ANN"));  // case-insensitive, inside words: Joanna and Ann Lee
  ASSERT_EQ(model_.rowCount(), 2);
  EXPECT_EQ(model_.ItemAtRow(0), 0);
  EXPECT_EQ(model_.ItemAtRow(1), 3);
  model_.CheckAll(false);
  EXPECT_EQ(reported_, -2);  // Bob's clear, then Joanna's: hidden items never count
  model_.SearchText(QString());
  EXPECT_EQ(model_.rowCount(), 5);
  EXPECT_EQ(model_.CheckedCount(), 3);

  // Toggling through the list row reaches the item behind it.
  ASSERT_TRUE(model_.setData(model_.index(3, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_TRUE(model_.IsChecked(3));

  model_.SearchText(QStringLiteral("carl"));
  const auto snapshot = model_.SnapshotChecked();
  EXPECT_EQ(snapshot->ItemCount(), 4);  // hidden but checked still go
}

// A burst of finds while held reaches the view as one insertion and one report, in
// arrival order and through the filter in force; Clear then empties everything.
TEST_F(ContactsModelTest, HeldFindsArriveAsOneInsertionWhenReleased) {
  model_.ShowDeletedOnly(true);
  int insertions = 0;
  QObject::connect(&model_, &QAbstractItemModel::rowsInserted, [&insertions] { ++insertions; });
  model_.HoldFinds(true);
  for (int i = 0; i < 4; ++i) model_.AddContact(Contact("Held" + std::to_string(i), "", i != 1));
  EXPECT_EQ(model_.FoundCount(), 5);  // not shown nor counted yet
  EXPECT_EQ(found_, 5);
  EXPECT_EQ(insertions, 0);
  model_.HoldFinds(false);
  EXPECT_EQ(insertions, 1);
  EXPECT_EQ(found_, 9);
  EXPECT_EQ(model_.FoundCount(), 9);
  EXPECT_EQ(model_.CheckedCount(), 9);
  ASSERT_EQ(model_.rowCount(), 5);  // two deleted before, three of the held ones
  EXPECT_EQ(model_.Item(model_.ItemAtRow(4)).Name, QStringLiteral("Held3"));
  model_.Clear();
  EXPECT_EQ(model_.rowCount(), 0);
  EXPECT_EQ(model_.FoundCount(), 0);
  EXPECT_EQ(model_.CheckedCount(), 0);
}

}  // namespace
}  // namespace quarry::views
