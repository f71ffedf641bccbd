#include "quarry/app/screenshot_walk.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "quarry/app/salvage_dlg.h"
#include "quarry/controls/image_button.h"
#include "quarry/pages/function_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/controls/menu_container.h"
#include <QMouseEvent>

namespace quarry {

namespace {

struct Step {
  QString name;
  std::function<void()> act;
  std::function<bool()> ready;  // polled until true (or the step times out)
};

struct Walk {
  CSalvageDlg* window;
  QDir folder;
  std::vector<Step> steps;
  size_t next = 0;
  int waited = 0;
  bool scanEnded = false;
};

void Save(Walk& walk, const QString& name) {
  const QString path = walk.folder.filePath(name + QStringLiteral(".png"));
  const bool saved = walk.window->grab().save(path);
  std::fprintf(stderr, "screenshot %s: %s\n", qPrintable(path), saved ? "saved" : "FAILED");
}

void RunNext(std::shared_ptr<Walk> walk) {
  if (walk->next >= walk->steps.size()) {
    walk->window->close();
    QApplication::quit();
    return;
  }
  Step& step = walk->steps[walk->next];
  if (walk->waited == 0) step.act();
  // Give the step up to 60 s to reach its state, then take the picture anyway
  // so that a stuck page shows up in the pictures.
  if ((step.ready && !step.ready()) && walk->waited < 600) {
    ++walk->waited;
    QTimer::singleShot(100, walk->window, [walk] { RunNext(walk); });
    return;
  }
  QTimer::singleShot(400, walk->window, [walk] {
    Save(*walk, walk->steps[walk->next].name);
    ++walk->next;
    walk->waited = 0;
    RunNext(walk);
  });
}

// The push button below page with this object name, or null.
QPushButton* ButtonNamed(QWidget* page, const QString& objectName) {
  return page == nullptr ? nullptr : page->findChild<QPushButton*>(objectName);
}

}  // namespace

void StartScreenshotWalk(CSalvageDlg* window, const QString& folder) {
  auto walk = std::make_shared<Walk>();
  walk->window = window;
  walk->folder = QDir(folder);
  walk->folder.mkpath(QStringLiteral("."));
  QObject::connect(window->bus(), &PageBus::scanState, window,
                   [walk](int state) { walk->scanEnded = state == page::kScanEnded; });
  CFunctionDlgContainer* pages = window->pageContainer();
  walk->steps.push_back({QStringLiteral("1-home"), [] {}, nullptr});
  walk->steps.push_back({QStringLiteral("2-backup-list"),
                         [window] { window->topButton(CSalvageDlg::kFileButton)->click(); }, nullptr});
  walk->steps.push_back({QStringLiteral("3-scan-results"),
                         [pages] {
                           // The first listed backup, opened with the list's own scan button.
                           QWidget* list = pages->Page(page::kBackupList);
                           if (auto* rows = list == nullptr ? nullptr : list->findChild<QTreeWidget*>(QStringLiteral("backupList")))
                             if (rows->topLevelItemCount() > 0) rows->setCurrentItem(rows->topLevelItem(0));
                           if (QPushButton* scan = ButtonNamed(list, QStringLiteral("backupScan"))) scan->click();
                         },
                         [walk, pages] { return pages->currentPageId() == page::kResults && walk->scanEnded; }});
  walk->steps.push_back({QStringLiteral("4-contacts"),
                         [pages] {
                           // A click on the contacts entry's caption, as the user would.
                           QWidget* results = pages->Page(page::kResults);
                           if (results == nullptr) return;
                           for (CMenuItemEx* entry : results->findChildren<CMenuItemEx*>()) {
                             if (entry->id() != page::kFirstCategoryView) continue;
                             const QPointF at(entry->width() - 8, entry->height() / 2.0);
                             QMouseEvent press(QEvent::MouseButtonPress, at, entry->mapToGlobal(at), Qt::LeftButton,
                                               Qt::LeftButton, Qt::NoModifier);
                             QMouseEvent release(QEvent::MouseButtonRelease, at, entry->mapToGlobal(at), Qt::LeftButton,
                                                 Qt::NoButton, Qt::NoModifier);
                             QApplication::sendEvent(entry, &press);
                             QApplication::sendEvent(entry, &release);
                           }
                         },
                         nullptr});
  QTimer::singleShot(500, window, [walk] { RunNext(walk); });
}

}  // namespace quarry
