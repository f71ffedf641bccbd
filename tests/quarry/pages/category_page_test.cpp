// Every category page the program registers, driven as a user would: clicks on the
// check boxes, check all and invert reaching the window as deltas, the deleted-only
// switch and the search keeping every check, a header click sorting with the checks
// following their items, the empty list saying why, and a cancelled recovery writing
// nothing; and the detail pane showing a whole note. A category added to the table is covered here without a line of its own.
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/category_page.h"
#include "quarry/pages/category_pages.h"
#include "quarry/pages/page_bus.h"
#include "quarry/views/notes_model.h"
#include "sieve/info_type.h"
#include "sample_records.h"

namespace quarry {

namespace {

constexpr int kItems = 6;  // items 0 and 3 are deleted

qint64 Reported(const QSignalSpy& spy) {
  qint64 sum = 0;
  for (const QList<QVariant>& call : spy) sum += call.at(0).toLongLong();
  return sum;
}

// Clicks the check box of `row` where the style draws it.
void ClickCheckBox(QTableView* table, int row) {
  const QModelIndex cell = table->model()->index(row, 0);
  QStyleOptionViewItem option;
  option.initFrom(table->viewport());
  option.rect = table->visualRect(cell);
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  option.checkState = cell.data(Qt::CheckStateRole).value<Qt::CheckState>();
  const QRect box = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, box.center());
}

// One registered category with its model and page, shown as the results page shows it.
struct Shown {
  const views::CategoryRow* row = nullptr;
  std::unique_ptr<views::CategoryModel> model;
  std::unique_ptr<CFunctionDlg> page;
  CCategoryPage* list = nullptr;  // the page as a category page (every registered one is)
  PageBus bus;

  explicit Shown(const views::CategoryRow& r) : row(&r), model(r.makeModel(views::ViewContext{})) {
    for (int n = 0; n < kItems; ++n) model->AddRecord(views::test::SampleOf(r.type, n, n % 3 == 0));
    page.reset(MakeCategoryPage(r, model.get()));
    list = dynamic_cast<CCategoryPage*>(page.get());
    PageBus::Attach(page.get(), &bus);
    page->InitPage();
    page->resize(900, 500);
    page->show();
  }
  // Whether the user works the check boxes in the table (a grid page has its own view).
  bool TableShown() const { return list != nullptr && list->Table()->isVisibleTo(page.get()); }
  void Click(int row) {
    if (TableShown()) {
      ClickCheckBox(list->Table(), row);
    } else {
      const QModelIndex cell = model->index(row, 0);
      const bool on = cell.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
      model->setData(cell, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
  }
};

std::vector<const views::CategoryRow*> RegisteredRows() {
  std::vector<const views::CategoryRow*> rows;
  views::ForEachCategory([&](const views::CategoryRow& row) {
    if (row.makeModel != nullptr) rows.push_back(&row);
  });
  return rows;
}

}  // namespace

class CategoryPageTest : public QObject {
  Q_OBJECT

 private slots:
  void ChecksReachTheWindowAsDeltasAndFiltersKeepThem() {
    for (const views::CategoryRow* row : RegisteredRows()) {
      Shown shown(*row);
      QVERIFY2(shown.list != nullptr, row->captionKey);  // every registered category has a category page
      QVERIFY(QTest::qWaitForWindowExposed(shown.page.get()));
      views::CategoryModel& model = *shown.model;
      const qsizetype found = model.FoundCount();
      QVERIFY2(found >= kItems, row->captionKey);
      QSignalSpy selection(&shown.bus, &PageBus::selectionChanged);

      shown.Click(1);
      QCOMPARE(Reported(selection), -1);
      shown.Click(1);
      QCOMPARE(Reported(selection), 0);
      selection.clear();
      shown.page->CheckAll(false);
      QCOMPARE(Reported(selection), -found);
      shown.page->CheckAll(false);  // nothing changes, nothing reported
      QCOMPARE(Reported(selection), -found);
      shown.page->CheckAll(true);
      // Invert with c of n checked changes the checked count by n - 2c.
      shown.Click(0);
      shown.Click(2);
      selection.clear();
      shown.page->InvertCheck();
      QCOMPARE(Reported(selection), found - 2 * (found - 2));
      QCOMPARE(model.CheckedCount(), qsizetype{2});

      // Deleted only: red rows with the marker; checks made there stay when it is off.
      shown.page->ApplyDeletedOnly(true);
      const bool canBeDeleted = views::test::CanBeDeleted(row->type);
      QVERIFY2(canBeDeleted ? model.rowCount() > 0 && model.rowCount() < found : model.rowCount() == 0, row->captionKey);
      for (int r = 0; r < model.rowCount(); ++r) {
        QVERIFY(!shown.list->RowIcon(r).isNull());
        QCOMPARE(model.index(r, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
      }
      const int deletedRows = model.rowCount();
      shown.page->CheckAll(true);
      shown.page->ApplyDeletedOnly(false);
      QCOMPARE(model.rowCount(), static_cast<int>(found));
      QVERIFY(shown.list->RowIcon(1).isNull() || model.index(1, 0).data(views::CategoryModel::kDeletedRole).toBool());
      // Hidden checks stay: the two inverted ones plus the deleted rows that were not among them.
      QVERIFY(model.CheckedCount() >= deletedRows);

      // A search is case-insensitive and finds text inside the item; the empty list says why.
      shown.page->SearchText(QStringLiteral("ITEM 4"));
      QVERIFY2(model.rowCount() >= 1 && model.rowCount() < found, row->captionKey);
      shown.page->SearchText(QStringLiteral("nothing by this text"));
      QCOMPARE(shown.list->EmptyText(), Translate(QStringLiteral("IDS_VIEW_EMPTY_FILTERED")));
      shown.page->SearchText(QString());
      QVERIFY(shown.list->EmptyText().isEmpty());
      QCOMPARE(model.FoundCount(), found);  // checks and filters never change the finds
    }
  }

  void AHeaderClickSortsAndChecksFollowTheirItems() {
    for (const views::CategoryRow* row : RegisteredRows()) {
      Shown shown(*row);
      if (!shown.TableShown()) continue;
      QVERIFY(QTest::qWaitForWindowExposed(shown.page.get()));
      views::CategoryModel& model = *shown.model;
      model.SetChecked(0, false);
      QHeaderView* header = shown.list->Table()->horizontalHeader();
      for (int click = 0; click < 2; ++click) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2));
        // Item 0 moved with the sort and kept its cleared check; every other item kept its own.
        for (int r = 0; r < model.rowCount(); ++r) {
          const qsizetype item = model.ItemAtRow(r);
          QCOMPARE(model.index(r, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(),
                   item == 0 ? Qt::Unchecked : Qt::Checked);
        }
      }
    }
  }

  void ACancelledRecoveryWritesNoItemAndAnEmptyViewSaysSo() {
    for (const views::CategoryRow* row : RegisteredRows()) {
      Shown shown(*row);
      shown.page->cancelFlag = true;
      QTemporaryDir dir;
      shown.page->RecoverTo(dir.path());
      QVERIFY2(shown.list->LastReport().Written.size() <= 3, row->captionKey);  // a report page at most, no items
      shown.model->Clear();
      QCOMPARE(shown.list->EmptyText(), Translate(QStringLiteral("IDS_VIEW_EMPTY")));
    }
  }

  // The detail pane holds the whole item, line breaks and markup as written (the list
  // shows one line), and a filter clears it.
  void ASelectedNoteShowsWhollyInTheDetailPane() {
    const QString text = QStringLiteral("first line\n<b>second</b> line & more\nthird");
    const views::CategoryRow* row = views::CategoryOfType(sieve::INFO_NOTE);
    QVERIFY(row != nullptr);
    Shown shown(*row);
    static_cast<views::NotesModel&>(*shown.model).Add({0, "Shopping", "2016-01-26 02:00:00", text.toStdString()});
    const int last = shown.model->rowCount() - 1;
    shown.list->Table()->selectRow(last);
    QVERIFY2(shown.list->DetailText().contains(text), qPrintable(shown.list->DetailText()));
    QVERIFY(shown.list->RowIcon(last).isNull());
    shown.page->ApplyDeletedOnly(true);
    QVERIFY(shown.list->DetailText().isEmpty());
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::CategoryPageTest)
#include "category_page_test.moc"
