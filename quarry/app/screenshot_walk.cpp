#include "quarry/app/screenshot_walk.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_dlg.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/controls/image_button.h"
#include "quarry/pages/category_page.h"
#include "quarry/pages/dfu_dlg.h"
#include "quarry/pages/dfu_pro_dlg.h"
#include "quarry/pages/file_itunes_dlg.h"
#include "quarry/pages/function_dlg.h"
#include "quarry/pages/password_dlg.h"
#include "quarry/pages/recovery_dlg.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/views/category_table.h"
#include "quarry/views/device_flow.h"
#include "quarry/views/scripted_device.h"
#include "sieve/info_type.h"
#include "quarry/controls/menu_container.h"
#include <QMouseEvent>

namespace quarry {

namespace {

struct Step {
  QString name;
  std::function<void()> act;
  std::function<bool()> ready;  // polled until true (or the step times out)
  std::function<bool()> wanted = {};  // when set and false, the step is left out
};

struct Walk {
  CSalvageDlg* window;
  QDir folder;
  std::vector<Step> steps;
  size_t next = 0;
  int waited = 0;
  bool scanEnded = false;
};

// The window with the dialog it shows on top, where the dialog is: one picture of what the user sees.
void Save(Walk& walk, const QString& name) {
  if (name.isEmpty()) return;  // a step that only leads to the next picture
  const QString path = walk.folder.filePath(name + QStringLiteral(".png"));
  QPixmap shot = walk.window->grab();
  if (QWidget* dialog = QApplication::activeModalWidget(); dialog != nullptr && dialog != walk.window) {
    QPainter painter(&shot);
    painter.drawPixmap(dialog->mapToGlobal(QPoint(0, 0)) - walk.window->mapToGlobal(QPoint(0, 0)), dialog->grab());
  }
  const bool saved = shot.save(path);
  std::fprintf(stderr, "screenshot %s: %s\n", qPrintable(path), saved ? "saved" : "FAILED");
}

void RunNext(std::shared_ptr<Walk> walk) {
  if (walk->next >= walk->steps.size()) {
    walk->window->close();
    QApplication::quit();
    return;
  }
  Step& step = walk->steps[walk->next];
  if (walk->waited == 0 && step.wanted && !step.wanted()) {
    ++walk->next;
    RunNext(walk);
    return;
  }
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

using BackupPick = std::function<bool(const sieve::CItunesBackupReader&, int)>;

// The backup list's row of the first backup `pick` accepts, or null.
QTreeWidgetItem* RowWhere(CSalvageDlg* window, const BackupPick& pick) {
  auto* list = qobject_cast<CFileItunesDlg*>(window->pageContainer()->Page(page::kBackupList));
  if (list == nullptr) return nullptr;
  for (const std::shared_ptr<views::ShelfBackup>& backup : list->Shelf().Backups()) {
    if (!pick(backup->reader, views::ShelfBackup::kIndex)) continue;
    const QString name = QString::fromStdString(backup->reader.BackupName(views::ShelfBackup::kIndex));
    for (int row = 0; row < list->List()->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = list->List()->topLevelItem(row);
      if (item->text(0).startsWith(name)) return item;
    }
  }
  return nullptr;
}

// Shows the backup list and opens the first backup `pick` accepts with the list's scan
// button. The click comes after this returns: the password prompt or a message it
// leads to runs a loop of its own, and the walk must go on polling meanwhile.
void OpenBackupWhere(CSalvageDlg* window, const BackupPick& pick) {
  // The list itself: the FILE tab goes back to results kept from an earlier scan.
  window->ShowPage(page::kBackupList);
  QTreeWidgetItem* item = RowWhere(window, pick);
  if (item == nullptr) return;
  QTreeWidget* list = item->treeWidget();
  list->setCurrentItem(item);
  QWidget* page = window->pageContainer()->Page(page::kBackupList);
  QTimer::singleShot(0, page, [page] {
    if (QPushButton* scan = ButtonNamed(page, QStringLiteral("backupScan"))) scan->click();
  });
}

bool Encrypted(const sieve::CItunesBackupReader& reader, int index) { return reader.GetIsEncrypt(index) != 0; }
bool WithoutIndex(const sieve::CItunesBackupReader& reader, int index) {
  return reader.Layout(index) == sieve::BackupLayout::Unknown;
}

template <typename Dialog>
Dialog* ShownDialog() {
  return qobject_cast<Dialog*>(QApplication::activeModalWidget());
}


// Runs `open` after the current step returns: a dialog's exec() must not
// hold up the walk, which goes on polling inside the dialog's loop.
void Later(CSalvageDlg* window, std::function<void()> open) { QTimer::singleShot(0, window, std::move(open)); }

QDialog* ShownDialogNamed(const QString& objectName) {
  QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr && modal->objectName() == objectName ? qobject_cast<QDialog*>(modal) : nullptr;
}

bool Readable(const sieve::CItunesBackupReader& reader, int index) {
  return !Encrypted(reader, index) && !WithoutIndex(reader, index);
}

// Device mode with a scripted device, so that its pages show content: none
// attached, one that waits for trust, is trusted, and is backed up.
void AddDeviceSteps(Walk& walk) {
  CSalvageDlg* window = walk.window;
  CFunctionDlgContainer* pages = window->pageContainer();
  auto device = std::make_shared<views::ScriptedDevice>();
  device->Set([](views::ScriptedDeviceState& state) {
    state.attached = false;
    state.description = views::DeviceDescription{QStringLiteral("Anna's iPhone"), QStringLiteral("iPhone 12, iOS 17.5")};
  });
  window->deviceFlow()->SetSeam(device->Seam());
  const auto on = [pages](int pageId) { return [pages, pageId] { return pages->currentPageId() == pageId; }; };
  walk.steps.push_back({QStringLiteral("16-device-none"),
                        [window] { window->topButton(CSalvageDlg::kDeviceButton)->click(); }, on(page::kNoDevice)});
  walk.steps.push_back({QStringLiteral("17-device-connecting"),
                        [device] {
                          device->Set([](views::ScriptedDeviceState& state) {
                            state.attached = true;
                            state.holdTrust = true;  // stays on the page until the next step
                            state.trust = {2, views::TrustWaitReason::DialogPending, {}};
                          });
                        },
                        on(page::kConnecting)});
  walk.steps.push_back({QStringLiteral("18-device-trust"),
                        [device] { device->Set([](views::ScriptedDeviceState& state) { state.holdTrust = false; }); },
                        on(page::kTrust)});
  walk.steps.push_back({QStringLiteral("19-device-connected"),
                        [device] {
                          device->Set([](views::ScriptedDeviceState& state) { state.trust = {1, {}, {}}; });
                        },
                        on(page::kDeviceConnected)});
  walk.steps.push_back({QStringLiteral("20-device-backup"),
                        [device, pages] {
                          device->Set([](views::ScriptedDeviceState& state) {
                            state.progress = 42.17;
                            state.passcode = true;
                          });
                          if (QPushButton* scan = ButtonNamed(pages->Page(page::kDeviceConnected), QStringLiteral("deviceScan"))) {
                            scan->click();
                          }
                        },
                        [window, pages] {
                          return pages->currentPageId() == page::kDeviceBackup &&
                                 window->deviceFlow()->PercentText() == QStringLiteral("42.17%");
                        }});
  walk.steps.push_back({QString(), [window] { window->deviceFlow()->Stop(); }, on(page::kDeviceConnected)});
}

// The results page's view of category page `id`, or null.
CCategoryPage* ResultsView(CFunctionDlgContainer* pages, int id) {
  QWidget* page = pages->Page(page::kResults);
  auto* container = page != nullptr ? page->findChild<CFunctionDlgContainer*>(QStringLiteral("resultsViews")) : nullptr;
  return container != nullptr ? qobject_cast<CCategoryPage*>(container->Page(id)) : nullptr;
}

QTableView* ViewTable(CFunctionDlgContainer* pages, int id) {
  CCategoryPage* view = ResultsView(pages, id);
  return view != nullptr ? view->findChild<QTableView*>(QStringLiteral("categoryTable")) : nullptr;
}

QCheckBox* DeletedOnlyBox(CFunctionDlgContainer* pages) {
  QWidget* page = pages->Page(page::kResults);
  return page != nullptr ? page->findChild<QCheckBox*>(QStringLiteral("resultsDeletedOnly")) : nullptr;
}

// Whether view `id` holds an item recovered from a deleted record: its rows under the filter.
bool HasDeletedItems(CFunctionDlgContainer* pages, int id) {
  CCategoryPage* view = ResultsView(pages, id);
  if (view == nullptr || view->Model() == nullptr) return false;
  views::CategoryModel* model = view->Model();
  const bool was = model->DeletedOnly();
  model->ShowDeletedOnly(true);
  const bool any = model->rowCount() > 0;
  model->ShowDeletedOnly(was);
  return any;
}

// The first row of `table` in "Recently Deleted" (its look differs from another recovered
// item's), or the first row.
int RecentlyDeletedRow(const QTableView* table) {
  const QString mark = Translate(QStringLiteral("IDS_MEDIA_RECENTLY_DELETED"));
  const QAbstractItemModel* model = table->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    for (int column = 0; column < model->columnCount(); ++column) {
      if (model->index(row, column).data().toString() == mark) return row;
    }
  }
  return 0;
}

// Opens view `id` of the results page as a user does: a click on its entry's caption,
// then on its first item.
void OpenView(CFunctionDlgContainer* pages, int id) {
  QWidget* page = pages->Page(page::kResults);
  if (page == nullptr) return;
  for (CMenuItemEx* entry : page->findChildren<CMenuItemEx*>()) {
    if (entry->id() != id) continue;
    const QPointF at(entry->width() - 8, entry->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, entry->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, entry->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(entry, &press);
    QApplication::sendEvent(entry, &release);
  }
  auto* container = page->findChild<CFunctionDlgContainer*>(QStringLiteral("resultsViews"));
  // An entry without items cannot be clicked; its view is still worth a look.
  auto* results = qobject_cast<CRecoveryMainDlg*>(page);
  if (container != nullptr && container->currentPageId() != id && results != nullptr) {
    results->Categories()->Select(id);
    results->ShowCategory(id, false);
  }
  if (QTableView* table = ViewTable(pages, id)) table->selectRow(0);
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
  auto* results = qobject_cast<CRecoveryMainDlg*>(pages->Page(page::kResults));
  // Recoveries of the walk go beside its pictures, never into the user's folders.
  const QString recovered = walk->folder.filePath(QStringLiteral("recovered"));
  AppSettings().recoveryFolder = recovered;
  AppSettings().configFolder = walk->folder.filePath(QStringLiteral("config"));
  if (results != nullptr) {
    results->SetRecoveryFolderChooser([recovered](const QString&) {
      QDir().mkpath(recovered);
      return recovered;
    });
    results->SetFolderOpener([](const QString&) {});
  }
  const auto noDialog = [] { return QApplication::activeModalWidget() == nullptr; };
  // A step that shows a dialog of the window and one that closes it again.
  const auto dialogSteps = [walk, window, noDialog](const QString& name, const QString& objectName,
                                                    std::function<void()> open) {
    walk->steps.push_back({name, [window, open] { Later(window, open); },
                           [objectName] { return ShownDialogNamed(objectName) != nullptr; }});
    walk->steps.push_back({QString(),
                           [objectName] {
                             if (QDialog* dialog = ShownDialogNamed(objectName)) dialog->reject();
                           },
                           noDialog});
  };

  walk->steps.push_back({QStringLiteral("01-home"), [] {}, nullptr});
  walk->steps.push_back({QStringLiteral("02-backup-list"),
                         [window] { window->topButton(CSalvageDlg::kFileButton)->click(); }, nullptr});
  walk->steps.push_back({QStringLiteral("03-scan-results"), [window] { OpenBackupWhere(window, Readable); },
                         [walk, pages] { return pages->currentPageId() == page::kResults && walk->scanEnded; }});
  // Every category's view in list order, as the user opens them: a click on the entry's
  // caption, then on the first item; then, where the view holds recovered items, the first
  // of them with the deleted-only filter on (a trashed picture's detail, a deleted bubble).
  views::ForEachCategory([&](const views::CategoryRow& row) {
    const QString kind = QLatin1String(row.type >= 0 ? sieve::InfoTypeName(row.type) : "voicemail");
    const int id = row.pageId;
    walk->steps.push_back({QStringLiteral("04-view-%1").arg(kind), [pages, id] { OpenView(pages, id); }, nullptr});
    walk->steps.push_back({QStringLiteral("04-view-%1-deleted").arg(kind),
                           [pages, id] {
                             if (QCheckBox* only = DeletedOnlyBox(pages)) only->setChecked(true);
                             if (QTableView* table = ViewTable(pages, id)) table->selectRow(RecentlyDeletedRow(table));
                           },
                           nullptr, [pages, id] { return HasDeletedItems(pages, id); }});
    walk->steps.push_back({QString(),
                           [pages] {
                             if (QCheckBox* only = DeletedOnlyBox(pages)) only->setChecked(false);
                           },
                           nullptr, [pages] { return DeletedOnlyBox(pages) != nullptr && DeletedOnlyBox(pages)->isChecked(); }});
  });
  // Back to contacts, so the recovery below starts where a user would.
  walk->steps.push_back({QString(),
                         [pages] {
                           auto* results = qobject_cast<CRecoveryMainDlg*>(pages->Page(page::kResults));
                           if (results != nullptr) results->ShowCategory(page::kFirstCategoryView, true);
                         },
                         nullptr});
  walk->steps.push_back({QStringLiteral("05-recovery-dialog"),
                         [window, pages] {
                           QPushButton* recover = ButtonNamed(pages->Page(page::kResults), QStringLiteral("resultsRecover"));
                           if (recover != nullptr) Later(window, [recover] { recover->click(); });
                         },
                         [] {
                           auto* dialog = ShownDialog<CRecoveryDlg>();
                           return dialog != nullptr && dialog->Finished();
                         }});
  walk->steps.push_back({QString(),
                         [] {
                           if (auto* dialog = ShownDialog<CRecoveryDlg>()) dialog->reject();
                         },
                         noDialog});
  dialogSteps(QStringLiteral("06-options"), QStringLiteral("optionDialog"), [window] { window->OpenOptions(); });
  dialogSteps(QStringLiteral("07-help"), QStringLiteral("helpDialog"), [window] { window->ShowHelp(); });
  dialogSteps(QStringLiteral("08-about"), QStringLiteral("aboutDialog"), [window] { window->ShowAbout(); });
  // The results in a maximised window. Without a window manager a maximise
  // request may go unanswered: the window then takes the screen itself.
  walk->steps.push_back({QStringLiteral("09-maximised"),
                         [window] {
                           window->showMaximized();
                           QTimer::singleShot(500, window, [window] {
                             if (window->screen() != nullptr &&
                                 window->width() < window->screen()->availableGeometry().width() - 10) {
                               window->setGeometry(window->screen()->availableGeometry());
                             }
                           });
                         },
                         [window] { return window->screen() != nullptr && window->width() >= window->screen()->availableGeometry().width() - 10; }});
  walk->steps.push_back({QString(),
                         [window] {
                           window->showNormal();
                           window->resize(CSalvageDlg::kWidth, CSalvageDlg::kHeight);
                         },
                         [window] { return window->width() == CSalvageDlg::kWidth; }});
  walk->steps.push_back({QStringLiteral("10-back-to-list"),
                         [pages] {
                           if (QPushButton* other = ButtonNamed(pages->Page(page::kResults), QStringLiteral("resultsOtherBackup"))) {
                             other->click();
                           }
                         },
                         [pages] { return pages->currentPageId() == page::kBackupList; }});
  // An encrypted backup: the prompt, the prompt while the key is derived, then cancelled.
  const auto hasEncrypted = [window] { return RowWhere(window, Encrypted) != nullptr; };
  const auto hasNoIndex = [window] { return RowWhere(window, WithoutIndex) != nullptr; };
  walk->steps.push_back({QStringLiteral("11-password-prompt"), [window] { OpenBackupWhere(window, Encrypted); },
                         [] { return ShownDialog<CPasswordDlg>() != nullptr; }, hasEncrypted});
  walk->steps.push_back({QStringLiteral("12-password-checking"),
                         [] {
                           if (CPasswordDlg* dialog = ShownDialog<CPasswordDlg>()) {
                             dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("walk"));
                             dialog->findChild<QPushButton*>(QStringLiteral("passwordOk"))->click();
                           }
                         },
                         [] { return ShownDialog<CPasswordDlg>() != nullptr && ShownDialog<CPasswordDlg>()->Checking(); },
                         hasEncrypted});
  walk->steps.push_back({QStringLiteral("13-password-cancelled"),
                         [] {
                           if (CPasswordDlg* dialog = ShownDialog<CPasswordDlg>()) dialog->reject();
                         },
                         [pages] { return QApplication::activeModalWidget() == nullptr && pages->currentPageId() == page::kBackupList; },
                         hasEncrypted});
  // A backup without an index: the scan fails and says why.
  walk->steps.push_back({QStringLiteral("14-scan-failed"), [window] { OpenBackupWhere(window, WithoutIndex); },
                         [walk, pages] {
                           return pages->currentPageId() == page::kResults && walk->scanEnded &&
                                  ShownDialog<QMessageBox>() != nullptr;
                         },
                         hasNoIndex});
  walk->steps.push_back({QStringLiteral("15-scan-failed-status"),
                         [] {
                           if (QMessageBox* box = ShownDialog<QMessageBox>()) box->accept();
                         },
                         noDialog, hasNoIndex});
  AddDeviceSteps(*walk);
  // Recovery mode: the guide, its steps running, the exit help, a phone found (from a
  // detector of the walk's own: no phone is attached), the repair dialog as the installed
  // idevicerestore allows it, and the device diagnostics of this computer.
  auto* dfu = qobject_cast<CDfuDlg*>(pages->Page(page::kRecoveryMode));
  walk->steps.push_back({QStringLiteral("21-recovery-mode"),
                         [window] { window->topButton(CSalvageDlg::kDfuButton)->click(); },
                         [pages] { return pages->currentPageId() == page::kRecoveryMode; }});
  walk->steps.push_back({QStringLiteral("22-recovery-steps"),
                         [dfu] {
                           if (dfu == nullptr) return;
                           dfu->StartButton()->click();
                           for (int i = 0; i < views::DfuSteps::kStepTicks; ++i) dfu->Tick();
                         },
                         nullptr});
  walk->steps.push_back({QStringLiteral("23-recovery-exit-help"), [window] { window->ShowPage(page::kRecoveryModeExit); },
                         [pages] { return pages->currentPageId() == page::kRecoveryModeExit; }});
  const tether::RecoveryDevice phone = tether::DescribeRecoveryDevice(tether::RecoveryMode::Recovery, 0x1A2B3C4D5E, 0x8030, 0x04);
  walk->steps.push_back({QStringLiteral("24-recovery-found"),
                         [window, dfu, phone] {
                           if (dfu != nullptr) dfu->SetDetector([phone] { return std::vector<tether::RecoveryDevice>{phone}; });
                           window->ShowPage(page::kRecoveryMode);
                         },
                         [dfu] { return dfu != nullptr && dfu->Found().has_value(); }});
  dialogSteps(QStringLiteral("25-repair-dialog"), QStringLiteral("repairDialog"), [window, phone] {
    CDfuProDlg dialog(phone, QDir(QDir::tempPath()).filePath(QStringLiteral("quarry-walk-cache")), window);
    dialog.exec();
  });
  dialogSteps(QStringLiteral("26-device-diagnostics"), QStringLiteral("deviceDiagnostics"),
              [window] { window->ShowDeviceDiagnostics(); });
  QTimer::singleShot(500, window, [walk] { RunNext(walk); });
}

}  // namespace quarry
