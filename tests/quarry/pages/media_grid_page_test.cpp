// The picture grid over a camera roll of 20,000 pictures: it opens at once, makes
// thumbnails for the cells on screen only (also after a scroll), shows them once
// made, and keeps a bounded number; the voicemail page says why it has no list.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QTableView>
#include <QTest>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/category_pages.h"
#include "quarry/pages/media_grid_page.h"
#include "quarry/pages/thumbnail_loader.h"
#include "quarry/views/category_table.h"
#include "support/test_support.h"

namespace quarry {

namespace {

// Cells of the grid that the viewport shows, whole or in part.
int VisibleCells(const QListView& grid) {
  int visible = 0;
  for (int row = 0; row < grid.model()->rowCount(); ++row) {
    if (grid.visualRect(grid.model()->index(row, 0)).intersects(grid.viewport()->rect())) ++visible;
  }
  return visible;
}

}  // namespace

class MediaGridPageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini")));
    backup_ = sieve::test::MakeBackup(dir_, "backup", {"--profile", "small"});
    for (const auto& f : sieve::test::ReadTruthFiles(backup_.TruthPath)) {
      if (f.Path == "Media/DCIM/100APPLE/IMG_0001.JPG") picture_ = backup_.Folder + "/" + f.StoredName;
    }
    QVERIFY(QFile::exists(QString::fromStdString(picture_)));
    // Many pictures, each its own stored path (links to one generated picture).
    QDir().mkpath(QString::fromStdString(dir_.Join("roll")));
    for (int i = 0; i < kPictures; ++i) {
      const std::string link = dir_.Join("roll/" + std::to_string(i));
      QVERIFY(QFile::link(QString::fromStdString(picture_), QString::fromStdString(link)));
      links_.push_back(link);
    }
  }

  void aLargeRollOpensAtOnceAndThumbnailsOnlyWhatIsOnScreen() {
    views::CameraRollModel model(views::ViewContext{});
    for (int i = 0; i < kPictures; ++i) {
      sieve::MediaFile file;
      file.Deleted = i % 7 == 0;
      file.FileName = "IMG_" + std::to_string(i) + ".JPG";
      file.FilePath = links_[static_cast<std::size_t>(i)];
      model.Add(file);
    }
    QCOMPARE(model.rowCount(), kPictures);

    QElapsedTimer opening;
    opening.start();
    auto page = std::unique_ptr<CFunctionDlg>(MakeCategoryPage(*views::CategoryOfType(sieve::INFO_CAMERA_ROLL), &model));
    auto* grid = qobject_cast<CMediaGridPage*>(page.get());
    QVERIFY(grid != nullptr);
    page->resize(900, 600);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    CThumbnailLoader* loader = grid->Loader();
    // Open means the first cells painted (and their thumbnails asked for).
    QTRY_VERIFY_WITH_TIMEOUT(loader->Requested() > 0, 3000);
    QVERIFY2(opening.elapsed() < 3000, qPrintable(QString::number(opening.elapsed())));
    QTest::qWait(200);  // any further layout and paints

    const int onScreen = VisibleCells(*grid->Grid());
    QVERIFY(onScreen > 0 && onScreen < 200);
    QVERIFY2(loader->Requested() <= onScreen, qPrintable(QString::number(loader->Requested())));
    // Once made, the cells draw them.
    loader->WaitIdle();
    QTRY_VERIFY(loader->Cached(links_[0]).has_value());
    QVERIFY(!loader->Cached(links_[0])->isNull());
    QVERIFY(loader->Cached(links_[0])->width() <= loader->Side());
    QVERIFY(!loader->Cached(links_.back()).has_value());

    // Scrolled to the end: the last cells are asked for, nothing in between.
    const qint64 before = loader->Requested();
    grid->Grid()->scrollToBottom();
    QTRY_VERIFY(loader->Cached(links_.back()).has_value());
    QVERIFY(loader->Requested() - before <= VisibleCells(*grid->Grid()));
    QVERIFY(loader->CachedCount() <= loader->Capacity());

    // The list shows the same items with their columns, the detail pane the picture.
    grid->ShowGrid(false);
    QVERIFY(grid->Table()->isVisible());
    grid->Table()->selectRow(0);
    QVERIFY(grid->DetailText().startsWith(QStringLiteral("IMG_")));
  }

  void theCacheKeepsOnlyItsCapacity() {
    CThumbnailLoader loader(nullptr, 32, 5);
    for (int i = 0; i < 20; ++i) QVERIFY(!loader.Thumbnail(links_[static_cast<std::size_t>(i)], {}).has_value());
    QCOMPARE(loader.Requested(), 20);
    // Asked again while being made: not asked twice.
    QVERIFY(!loader.Thumbnail(links_[0], {}).has_value());
    QCOMPARE(loader.Requested(), 20);
    loader.WaitIdle();
    QCoreApplication::processEvents();
    QCOMPARE(loader.CachedCount(), 5);
    // An unreadable file gives a null thumbnail, once, not a retry on every paint.
    const std::string broken = dir_.Join("broken.jpg");
    sieve::test::WriteFile(broken, "\xFF\xD8 not a picture");
    loader.Thumbnail(broken, {});
    loader.WaitIdle();
    QCoreApplication::processEvents();
    QVERIFY(loader.Cached(broken).has_value() && loader.Cached(broken)->isNull());
  }

  void voicemailSaysItIsReadButNotShown() {
    const views::CategoryRow* row = nullptr;
    views::ForEachCategory([&row](const views::CategoryRow& r) {
      if (r.pageId == 100063) row = &r;
    });
    QVERIFY(row != nullptr);
    auto page = std::unique_ptr<CFunctionDlg>(MakeCategoryPage(*row, nullptr));
    const auto* title = page->findChild<QLabel*>(QStringLiteral("categoryNotShownTitle"));
    const auto* text = page->findChild<QLabel*>(QStringLiteral("categoryEmpty"));
    QVERIFY(title != nullptr && text != nullptr);
    QCOMPARE(title->text(), QStringLiteral("Voicemail"));
    QVERIFY(text->text().startsWith(QStringLiteral("Voicemail is read from the backup")));
  }

 private:
  static constexpr int kPictures = 20000;
  sieve::test::TempDir dir_;
  sieve::test::GeneratedBackup backup_;
  std::string picture_;
  std::vector<std::string> links_;
};

}  // namespace quarry

QTEST_MAIN(quarry::MediaGridPageTest)
#include "media_grid_page_test.moc"
