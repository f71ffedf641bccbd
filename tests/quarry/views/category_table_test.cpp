// Every category the program registers, driven the same way: its model passes Qt's
// model checks through finds, filters, sorting, checks and a new scan, and its
// snapshot writes what is checked. A category added to the table is covered here
// without a line of its own.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QStringList>
#include <QTemporaryDir>

#include "quarry/views/category_table.h"
#include "sieve/record_visit.h"

namespace quarry::views {
namespace {

template <int T = 0>
sieve::AnyRecord EmptyRecordOf(int type) {
  if constexpr (T >= sieve::kInfoTypeCount) {
    return {};
  } else {
    if (type == T) return sieve::RecordType<static_cast<sieve::_InfoType>(T)>{};
    return EmptyRecordOf<T + 1>(type);
  }
}

// A record of the kind with some text in it; deleted or not where the kind can be.
sieve::AnyRecord SampleOf(int type, int n, bool deleted) {
  sieve::AnyRecord record = EmptyRecordOf(type);
  const std::string text = "item " + std::to_string(n) + " <b>&\"'";
  std::visit(
      [&](auto& r) {
        using R = std::decay_t<decltype(r)>;
        if constexpr (requires { r.Deleted; }) r.Deleted = deleted ? 1 : 0;
        if constexpr (std::is_same_v<R, sieve::MediaGroup>) {
          r.Name = "group";
          r.Files.push_back({deleted ? 1 : 0, text + ".jpg", "/nonexistent/" + std::to_string(n), std::nullopt});
        } else if constexpr (std::is_same_v<R, sieve::MediaFile>) {
          r.FileName = text + ".jpg";
        } else if constexpr (std::is_same_v<R, sieve::SmsConversation>) {
          r.Address = text;
          r.Messages.push_back({deleted ? 1 : 0, 1, n, text, "2015-01-02 03:04:05", "OUT", "", ""});
        } else if constexpr (std::is_same_v<R, sieve::WaChat>) {
          r.PartnerName = text;
          r.Messages.push_back({deleted ? 1 : 0, 1, 0, text, "2015-01-02 03:04:05", ""});
        } else if constexpr (std::is_same_v<R, sieve::ContactRecord>) {
          r.First = text;
        } else if constexpr (requires { r.Title; }) {
          r.Title = text;
        } else if constexpr (requires { r.Summary; }) {
          r.Summary = text;
        } else if constexpr (requires { r.Address; }) {
          r.Address = text;
        } else if constexpr (requires { r.FileName; }) {
          r.FileName = text;
        } else if constexpr (requires { r.Text; }) {
          r.Text = text;
        }
      },
      record);
  return record;
}

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
      EXPECT_GT(deletedRows, 0) << "deleted items are marked";
      EXPECT_LT(deletedRows, model->FoundCount());
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
