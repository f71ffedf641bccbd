#include "quarry/views/device_flow.h"

#include <QMetaObject>
#include <QTimer>
#include <utility>

#include "quarry/pages/page_ids.h"

namespace quarry::views {

namespace {

constexpr int kDiskFull = -105;

const char* TrustKey(TrustWaitReason reason) {
  switch (reason) {
    case TrustWaitReason::None:
    case TrustWaitReason::DialogPending: return "IDS_TRUST_WAIT_DIALOG";
    case TrustWaitReason::Locked: return "IDS_TRUST_WAIT_LOCKED";
    case TrustWaitReason::Denied: return "IDS_TRUST_WAIT_DENIED";
    case TrustWaitReason::StalePairing: return "IDS_TRUST_WAIT_STALE";
    case TrustWaitReason::NotActivated: return "IDS_TRUST_WAIT_NOT_ACTIVATED";
    case TrustWaitReason::Other: return "IDS_TRUST_WAIT_OTHER";
  }
  return "IDS_TRUST_WAIT_DIALOG";
}

}  // namespace

DeviceFlow::DeviceFlow(DeviceSeam seam, BackupShelf& shelf, QString backupFolder, TextLookup texts, QObject* parent)
    : QObject(parent),
      seam_(std::move(seam)),
      shelf_(shelf),
      folder_(std::move(backupFolder)),
      texts_(std::move(texts)),
      timer_(new QTimer(this)),
      percent_(QStringLiteral("0.00%")) {
  opener_ = [](ShelfBackup& backup) {
    return backup.reader.GetIsEncrypt(ShelfBackup::kIndex) == 0 ? Opening::kOpened : Opening::kCancelled;
  };
  connect(timer_, &QTimer::timeout, this, &DeviceFlow::Tick);
}

DeviceFlow::~DeviceFlow() {
  if (trustThread_.joinable()) trustThread_.join();
}

bool DeviceFlow::IsDevicePage(int pageId) {
  return pageId == page::kNoDevice || pageId == page::kConnecting || pageId == page::kTrust ||
         pageId == page::kDeviceConnected || pageId == page::kDeviceBackup;
}

QString DeviceFlow::Text(const char* key) const { return ViewText(texts_, QString::fromLatin1(key)); }

int DeviceFlow::TickInterval() const {
  switch (active_) {
    case page::kConnecting: return 100;
    case page::kDeviceBackup: return 500;
    default: return 1000;
  }
}

void DeviceFlow::PageShown(int pageId) {
  ++visit_;
  timer_->stop();
  active_ = IsDevicePage(pageId) ? pageId : 0;
  if (active_ == 0) return;
  if (probe_ == nullptr && seam_.makeProbe) probe_ = seam_.makeProbe();
  switch (active_) {
    case page::kConnecting:
      connecting_ = 0;
      StartTrustCheck();
      break;
    case page::kDeviceConnected:
      if (!Describe()) {
        emit deviceState(0);
        Leave(page::kNoDevice);
        return;
      }
      break;
    case page::kDeviceBackup:
      if (run_ == nullptr) {
        StartBackup();
        if (run_ == nullptr) return;
      }
      break;
    default: break;
  }
  emit changed();
  timer_->start(TickInterval());
}

void DeviceFlow::Leave(int pageId) {
  // The next page takes over once the window shows it; until then nothing here acts.
  timer_->stop();
  active_ = 0;
  emit showPage(pageId);
}

void DeviceFlow::Tick() {
  switch (active_) {
    case page::kNoDevice:
      if (probe_->Attached()) Leave(page::kConnecting);
      break;
    case page::kConnecting:
      if (connecting_ + 20 <= 100) {
        connecting_ += 20;
        emit changed();
      }
      break;
    case page::kTrust:
      if (!trustRunning_) StartTrustCheck();
      break;
    case page::kDeviceConnected: {
      if (!probe_->Attached()) {
        emit deviceState(0);
        Leave(page::kNoDevice);
        break;
      }
      const bool several = probe_->SeveralAttached();
      const bool wasSeveral = std::exchange(severalDevices_, several);
      emit deviceState(1);
      if (several && !wasSeveral) {
        emit message(Text("HAVE_MORE_DEVICE"), false);  // once, when the second one arrives
      } else if (!several && wasSeveral && Describe()) {
        emit changed();  // the one left may be another device
      }
      break;
    }
    case page::kDeviceBackup: BackupTick(); break;
    default: break;
  }
}

void DeviceFlow::StartTrustCheck() {
  if (trustRunning_ || !seam_.makeProbe) return;
  if (trustThread_.joinable()) trustThread_.join();  // ended: trustRunning_ is clear
  trustRunning_ = true;
  const quint64 visit = visit_;
  // The check blocks while the device pairs; its answer comes back queued to this thread.
  trustThread_ = std::thread([this, visit, probe = seam_.makeProbe()] {
    const TrustResult result = probe->CheckTrust();
    QMetaObject::invokeMethod(this, [this, visit, result] { TrustChecked(visit, result); }, Qt::QueuedConnection);
  });
}

void DeviceFlow::TrustChecked(quint64 visit, const TrustResult& result) {
  trustRunning_ = false;
  if (visit != visit_) {
    // Asked for an earlier visit: a page that still waits for an answer asks again.
    if (active_ == page::kConnecting || active_ == page::kTrust) StartTrustCheck();
    return;
  }
  if (active_ != page::kConnecting && active_ != page::kTrust) return;
  if (result.state == 2) {
    QString text = Text(TrustKey(result.reason));
    if (result.reason == TrustWaitReason::Other) text = text.arg(result.detail);
    const bool newText = text != trustText_;
    trustText_ = text;
    emit deviceState(2);
    if (active_ == page::kConnecting) {
      Leave(page::kTrust);
    } else if (newText) {
      emit changed();
    }
    return;
  }
  emit deviceState(result.state == 1 ? 1 : 0);
  if (result.state == 1) {
    Leave(active_ == page::kConnecting ? page::kDeviceConnected : page::kConnecting);
  } else {
    Leave(page::kNoDevice);
  }
}

bool DeviceFlow::Describe() {
  const std::optional<DeviceDescription> device = probe_->Describe();
  if (!device) return false;
  deviceText_ = device->kind.isEmpty() ? device->name : QStringLiteral("%1 (%2)").arg(device->name, device->kind);
  return true;
}

void DeviceFlow::Scan() {
  if (active_ != page::kDeviceConnected) return;
  if (severalDevices_) {
    emit message(Text("HAVE_MORE_DEVICE"), false);
    return;
  }
  Leave(page::kDeviceBackup);
}

void DeviceFlow::StartBackup() {
  bar_ = 0;
  percent_ = QStringLiteral("0.00%");
  passcode_ = false;
  if (!Describe()) {
    emit deviceState(0);
    Leave(page::kNoDevice);
    return;
  }
  emit scanState(page::kScanStarted);
  // Every backup starts from an empty folder: a full backup over an old one would mix the two.
  QString error;
  if (!seam_.emptyFolder || !seam_.emptyFolder(folder_, error)) {
    EndBackup(Text("IDS_DEVICE_BACKUP_FOLDER").arg(folder_, error));
    return;
  }
  run_ = seam_.makeBackup ? seam_.makeBackup() : nullptr;
  if (run_ == nullptr) {
    EndBackup(Text("IDS_SCAN_ERROR"));
    return;
  }
  // One that cannot start is reported like one that fails later.
  if (!run_->Start(folder_)) FailBackup();
}

void DeviceFlow::FailBackup() {
  const int code = run_->ErrorCode();
  const QString text = run_->ErrorText();
  run_.reset();
  EndBackup(code == kDiskFull ? Text("IDS_SCAN_ERROR_SPACE")
                              : QStringLiteral("%1\n%2\n%3").arg(code).arg(text, Text("IDS_SCAN_ERROR")));
}

void DeviceFlow::ShowProgress(double percent) {
  // The bar never goes back, except to its start (the backup began anew).
  const int value = static_cast<int>(percent * 100.0);
  if (percent != 0.0 && value < bar_) return;
  bar_ = value;
  percent_ = QString::asprintf("%.2f%%", percent);
}

void DeviceFlow::BackupTick() {
  const double percent = run_->Progress();
  ShowProgress(percent);
  passcode_ = run_->PasscodeRequested();
  emit changed();
  if (percent == 100.0) {
    FinishBackup();
    return;
  }
  if (run_->ErrorCode() != 0) FailBackup();
}

void DeviceFlow::FinishBackup() {
  timer_->stop();
  run_->WaitFinish();
  const QString folder = run_->BackupFolder();
  run_.reset();
  // The folder holds a new backup: never the one read from it before.
  const std::shared_ptr<ShelfBackup> backup = folder.isEmpty() ? nullptr : shelf_.Renew(folder);
  if (backup == nullptr) {
    EndBackup(Text("IDS_DEVICE_BACKUP_UNREADABLE").arg(folder));
    return;
  }
  const Opening opening = opener_(*backup);
  if (opening != Opening::kOpened) {
    EndBackup(QString());  // the opener told the user why, or the user cancelled
    return;
  }
  bar_ = 0;
  passcode_ = false;
  emit scanState(page::kScanEnded);
  emit setScanSource(backup->folder);
  Leave(page::kResults);
}

void DeviceFlow::EndBackup(const QString& text) {
  timer_->stop();
  bar_ = 0;
  passcode_ = false;
  emit changed();
  emit scanState(page::kScanEnded);
  if (!text.isEmpty()) emit message(text, true);
  Leave(page::kDeviceConnected);
}

void DeviceFlow::Stop() {
  if (run_ == nullptr) return;
  run_->Stop();
  run_.reset();
  EndBackup(QString());
}

}  // namespace quarry::views
