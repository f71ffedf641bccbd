// A list view's page driven as a user would: a click on a row shows the whole item in
// the detail pane, the deleted-only switch, check all and invert, and a recovery.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "quarry/pages/category_page.h"
#include "quarry/pages/category_pages.h"
#include "quarry/views/notes_model.h"
#include "sieve/info_type.h"

namespace quarry {

class ListPagesTest : public QObject {
  Q_OBJECT

 private slots:
  // The notes page as the results page makes it from the category table.
  void NotesPageShowsTheWholeNoteFiltersAndRecovers() {
    const QString text = QStringLiteral("first line\n<b>second</b> line & more\nthird");
    const views::CategoryRow* row = views::CategoryOfType(sieve::INFO_NOTE);
    QVERIFY(row != nullptr && row->makeModel != nullptr);
    const std::unique_ptr<views::CategoryModel> model = row->makeModel(views::ViewContext{});
    auto& notes = static_cast<views::NotesModel&>(*model);
    notes.Add({0, "Shopping", "2016-01-26 02:00:00", text.toStdString()});
    notes.Add({1, "Gone", "2016-01-27 02:00:00", "recovered"});
    const std::unique_ptr<CFunctionDlg> made(MakeCategoryPage(*row, model.get()));
    auto* page = dynamic_cast<CCategoryPage*>(made.get());
    QVERIFY(page != nullptr);
    page->resize(800, 500);
    page->show();
    page->InitPage();
    QTableView* table = page->Table();

    // A click on the live note: the pane holds its whole text, line breaks and all.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(0, 1)).center());
    QVERIFY2(page->DetailText().contains(text), qPrintable(page->DetailText()));
    QVERIFY(page->RowIcon(0).isNull());

    // Deleted only: the recovered note alone, with the marker; the pane is cleared. Check
    // all and invert act on the rows shown; the hidden live note keeps its check.
    page->ShowDeletedOnly(true);
    QCOMPARE(table->model()->rowCount(), 1);
    QVERIFY(!page->RowIcon(0).isNull());
    QVERIFY(page->DetailText().isEmpty());
    page->CheckAll(false);
    QCOMPARE(model->CheckedCount(), 1);
    page->InvertCheck();
    QCOMPARE(model->CheckedCount(), 2);

    // A recovery writes the page and the CSV; a cancelled one nothing.
    QTemporaryDir dir;
    page->RecoverTo(dir.path());
    QVERIFY(page->LastReport().Failed.isEmpty());
    for (const char* file : {"Notes/HTML/Notes.html", "Notes/CSV/Notes.csv"}) {
      QVERIFY2(QFileInfo::exists(QDir(dir.path()).filePath(QLatin1String(file))), file);
    }
    QTemporaryDir cancelled;
    page->cancelFlag = true;
    page->RecoverTo(cancelled.path());
    QVERIFY(page->LastReport().Written.isEmpty());
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::ListPagesTest)
#include "list_pages_test.moc"
