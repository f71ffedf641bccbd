// The signals by which pages hand work to the main window and to each other.
// One bus per main window; a page finds it with PageBus::Of(this) when it
// emits (the window attaches its bus to itself; widgets outside any window use
// the process-wide bus). The bus also holds the window's backup shelf, so the
// window owns it through its bus.
//
// The signals may be emitted from any thread: the main window's connections
// are automatic, so a worker's emission reaches the window thread queued.
#pragma once

#include <QObject>

#include "quarry/views/backup_shelf.h"

class QWidget;

namespace quarry {

class PageBus : public QObject {
  Q_OBJECT

 public:
  explicit PageBus(QObject* parent = nullptr);

  // The bus attached to widget's window (or an ancestor); the process-wide
  // bus when none is attached.
  static PageBus* Of(const QWidget* widget);
  static PageBus* Instance();
  // Makes bus the one Of() finds for window and its descendants.
  static void Attach(QWidget* window, PageBus* bus);

  // The backups the window's pages hand each other, by folder.
  views::BackupShelf& Shelf() { return shelf_; }

 signals:
  // Show the main window's page with this id (quarry::page ids).
  void showPage(int pageId);
  // Hand the results page the backup of this folder on the shelf.
  void setScanSource(const QString& folder);
  // page::kScanStarted (busy) or page::kScanEnded (idle).
  void scanState(int state);
  // Found or checked items changed by countDelta items of sizeDelta bytes.
  void selectionChanged(qint64 countDelta, qint64 sizeDelta);
  // 0 no device, 1 trusted, 2 waiting for trust.
  void deviceState(int state);

 private:
  views::BackupShelf shelf_;
};

}  // namespace quarry
