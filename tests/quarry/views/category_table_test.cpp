// Every category the program registers, driven the same way: its model passes Qt's
// model checks through finds, filters, sorting, checks and a new scan, and its
// snapshot writes what is checked. A category added to the table is covered here
// without a line of its own.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QStringList>
#include <QTemporaryDir>

#include "quarry/views/category_table.h"
#include "sample_records.h"

namespace quarry::views {
namespace {

using test::SampleOf;

// Qt's model tester reports through the message handler; every complaint fails the test.
QStringList* complaints = nullptr;
void Collect(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (complaints != nullptr && type >= QtWarningMsg) complaints->append(message);
}

class RegisteredModels : public testing::TestWithParam<const CategoryRow*> {};

TEST_P(RegisteredModels, PassModelChecksThroughAScanAndItsFilters) {
  const CategoryRow& row = *GetParam();
  QStringList found;
  complaints = &found;
  const QtMessageHandler previous = qInstallMessageHandler(&Collect);
  {
    const std::unique_ptr<CategoryModel> model = row.makeModel(ViewContext{});
    QAbstractItemModelTester tester(model.get(), QAbstractItemModelTester::FailureReportingMode::Warning);
    for (int round = 0; round < 2; ++round) {
      for (int n = 0; n < 6; ++n) model->AddRecord(SampleOf(row.type, n, n % 3 == 0));
      ASSERT_GT(model->FoundCount(), 0) << row.captionKey;
      EXPECT_EQ(model->CheckedCount(), model->FoundCount());
      EXPECT_GT(model->columnCount(), 0);
      EXPECT_FALSE(model->headerData(0, Qt::Horizontal).toString().isEmpty());

      model->ShowDeletedOnly(true);
      const int deletedRows = model->rowCount();
      if (test::CanBeDeleted(row.type)) {
        EXPECT_GT(deletedRows, 0) << "deleted items are marked";
        EXPECT_LT(deletedRows, model->FoundCount());
      } else {
        EXPECT_EQ(deletedRows, 0);
      }
      for (int r = 0; r < deletedRows; ++r) EXPECT_TRUE(model->index(r, 0).data(CategoryModel::kDeletedRole).toBool());
      model->ShowDeletedOnly(false);
      model->SearchText(QStringLiteral("item 4"));
      EXPECT_GE(model->rowCount(), 1) << "search finds the item's text";
      EXPECT_LT(model->rowCount(), model->FoundCount());
      model->SearchText({});
      model->sort(0, Qt::DescendingOrder);
      model->sort(-1);

      model->CheckAll(false);
      EXPECT_EQ(model->CheckedCount(), 0);
      model->InvertCheck();
      EXPECT_EQ(model->CheckedCount(), model->FoundCount());
      model->CheckDeletedOnly();
      const std::unique_ptr<CategoryExport> snapshot = model->SnapshotChecked();
      ASSERT_NE(snapshot, nullptr);
      EXPECT_EQ(snapshot->ItemCount(), model->CheckedCount());
      EXPECT_FALSE(snapshot->FolderName().isEmpty());
      if (round == 0) model->Clear();
    }
  }
  qInstallMessageHandler(previous);
  complaints = nullptr;
  EXPECT_TRUE(found.isEmpty()) << row.captionKey << ": " << found.join(QLatin1Char('\n')).toStdString();
}

std::vector<const CategoryRow*> RowsWithModels() {
  std::vector<const CategoryRow*> rows;
  ForEachCategory([&](const CategoryRow& row) {
    if (row.makeModel != nullptr) rows.push_back(&row);
  });
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, RegisteredModels, testing::ValuesIn(RowsWithModels()),
                         [](const testing::TestParamInfo<const CategoryRow*>& info) {
                           return std::to_string(info.param->pageId);
                         });

TEST(CategoryTable, EveryEntryHasItsEnglishTextAndAKindOrNoModel) {
  for (const CategoryRow& row : CategoryRows()) {
    const QString key = QLatin1String(row.captionKey);
    EXPECT_NE(EnglishViewText(key), key) << row.captionKey;
    if (row.pageId == 0) continue;
    // A model without a record kind would never receive anything.
    if (row.makeModel != nullptr) {
      EXPECT_GE(row.type, 0) << row.captionKey;
    }
    if (row.type >= 0) {
      EXPECT_EQ(CategoryOfType(row.type), &row);
    }
  }
}

}  // namespace
}  // namespace quarry::views
