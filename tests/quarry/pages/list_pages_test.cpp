// The pages of the call history, notes, calendar, reminders and bookmarks views as
// the results page makes them from the category table, driven as a user would: a
// click on a row shows the whole item in the detail pane, the deleted-only switch,
// check all and invert, and a recovery that writes the category's files.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "quarry/pages/category_page.h"
#include "quarry/pages/category_pages.h"
#include "quarry/views/bookmarks_model.h"
#include "quarry/views/calendar_model.h"
#include "quarry/views/calls_model.h"
#include "quarry/views/notes_model.h"
#include "quarry/views/reminders_model.h"

namespace quarry {

namespace {

const views::CategoryRow& RowOf(int pageId) {
  for (const views::CategoryRow& row : views::CategoryRows()) {
    if (row.pageId == pageId) return row;
  }
  qFatal("no category row %d", pageId);
}

// One live and one deleted record of the category, in that order, each with a text that
// holds line breaks; `shown` is what the detail pane shows of the live one.
struct Case {
  int PageId;
  const char* Folder;
  bool Detail;
  std::function<void(views::CategoryModel&)> Fill;
  QString Shown;
};

const QString kLines = QStringLiteral("first line\n<b>second</b> line & more\nthird");

std::vector<Case> Cases() {
  const std::string lines = kLines.toStdString();
  return {
      {100061, "Call History", false,
       [](views::CategoryModel& m) {
         auto& calls = static_cast<views::CallsModel&>(m);
         calls.Add({0, "+1 555 0100", "2016-01-26 02:00:00", "61", "IN", 0, 61.0f, "Ann"});
         calls.Add({1, "+1 555 0101", "2016-01-27 02:00:00", "0", "OUT", 1, 0.0f, "Bob"});
       },
       {}},
      {100071, "Notes", true,
       [lines](views::CategoryModel& m) {
         auto& notes = static_cast<views::NotesModel&>(m);
         notes.Add({0, "Shopping", "2016-01-26 02:00:00", lines});
         notes.Add({1, "Gone", "2016-01-27 02:00:00", "recovered"});
       },
       kLines},
      {100072, "Calendar", true,
       [lines](views::CategoryModel& m) {
         auto& calendar = static_cast<views::CalendarModel&>(m);
         calendar.Add({0, "Meeting", "2016-01-26 02:00:00", "2016-01-26 03:00:00", lines, "Room 1", 1, 0});
         calendar.Add({1, "Gone", "2016-01-27 02:00:00", "", "", "", 0, 0});
       },
       kLines},
      {100073, "Reminders", true,
       [lines](views::CategoryModel& m) {
         auto& reminders = static_cast<views::RemindersModel&>(m);
         reminders.Add({"Call back", "", "2016-01-26 02:00:00", lines, "", 0, 1, "Home", 0});
         reminders.Add({"Gone", "", "", "", "", 1, 0, "Home", 1});
       },
       kLines},
      {100074, "Bookmarks", false,
       [](views::CategoryModel& m) {
         auto& bookmarks = static_cast<views::BookmarksModel&>(m);
         bookmarks.Add({"Example", "https://example.org/", 0});
         bookmarks.Add({"Gone", "https://gone.example/", 1});
       },
       {}},
  };
}

}  // namespace

class ListPagesTest : public QObject {
  Q_OBJECT

 private slots:
  void PagesShowFilterCheckAndRecover() {
    for (const Case& c : Cases()) {
      const views::CategoryRow& row = RowOf(c.PageId);
      QVERIFY(row.makeModel != nullptr);
      const std::unique_ptr<views::CategoryModel> model = row.makeModel(views::ViewContext{});
      c.Fill(*model);
      std::unique_ptr<CFunctionDlg> made(MakeCategoryPage(row, model.get()));
      auto* page = dynamic_cast<CCategoryPage*>(made.get());
      QVERIFY2(page != nullptr, c.Folder);
      page->resize(800, 500);
      page->show();
      page->InitPage();
      QTableView* table = page->Table();
      QCOMPARE(table->model()->rowCount(), 2);

      // A click on the live row: the detail pane holds the whole text, line breaks and all.
      const QRect cell = table->visualRect(table->model()->index(0, 1));
      QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
      if (c.Detail) {
        QVERIFY2(page->DetailText().contains(c.Shown), qPrintable(page->DetailText()));
      } else {
        QVERIFY(page->DetailText().isEmpty());
      }

      // Deleted only: the recovered item alone, with the marker; the pane is cleared.
      QVERIFY(page->RowIcon(0).isNull());
      page->ShowDeletedOnly(true);
      QCOMPARE(table->model()->rowCount(), 1);
      QCOMPARE(table->model()->index(0, 0).data(views::CategoryModel::kDeletedRole).toBool(), true);
      QVERIFY(!page->RowIcon(0).isNull());
      QVERIFY(page->DetailText().isEmpty());

      // Check all and invert act on the rows shown; the hidden live item keeps its check.
      page->CheckAll(false);
      QCOMPARE(model->CheckedCount(), 1);
      page->InvertCheck();
      QCOMPARE(model->CheckedCount(), 2);
      page->ShowDeletedOnly(false);
      QCOMPARE(table->model()->rowCount(), 2);

      // A recovery writes the category's page (or bookmark file) and CSV; a cancelled one nothing.
      QTemporaryDir dir;
      page->RecoverTo(dir.path());
      QVERIFY(page->LastReport().Failed.isEmpty());
      const QDir category(QDir(dir.path()).filePath(QLatin1String(c.Folder)));
      for (const char* file : {"HTML/%1.html", "CSV/%1.csv"}) {
        QVERIFY2(QFileInfo::exists(category.filePath(QLatin1String(file).arg(QLatin1String(c.Folder)))), file);
      }
      QTemporaryDir cancelled;
      page->cancelFlag = true;
      page->RecoverTo(cancelled.path());
      QVERIFY(page->LastReport().Written.isEmpty());
      page->cancelFlag = false;
    }
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::ListPagesTest)
#include "list_pages_test.moc"
