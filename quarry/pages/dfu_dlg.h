// The recovery-mode page: three steps that guide the phone into recovery mode,
// counted in ticks of a second, while the recovery watcher looks for it. A phone
// found in recovery mode can be told to leave it (it restarts into its system) or
// be repaired; one in DFU mode can be repaired, or left with its buttons.
#pragma once

#include <QTimer>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "quarry/pages/function_dlg.h"
#include "quarry/views/repair_flow.h"
#include "tether/device/recovery_device.h"

class QLabel;
class QPushButton;

namespace quarry {

class CDfuDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  // Link ids of the page's two links.
  static constexpr int kBackLink = 12345;
  static constexpr int kHowToExitLink = 12346;

  using Detector = std::function<std::vector<tether::RecoveryDevice>()>;
  using Teller = std::function<void(const QString& text)>;
  using DeviceAction = std::function<void(const tether::RecoveryDevice& device)>;

  explicit CDfuDlg(QWidget* parent = nullptr);
  ~CDfuDlg() override;

  void InitPage() override;
  void OnShowPage() override;

  // Replaceable for tests: where phones in recovery mode come from (the program's
  // recovery watcher), how a message is shown, what Repair does (the repair
  // dialog) and what Exit does (the kick-out, on a worker).
  void SetDetector(Detector detector);
  void SetTeller(Teller teller) { tell_ = std::move(teller); }
  void SetRepair(DeviceAction repair) { repair_ = std::move(repair); }
  void SetExit(std::function<tether::DeviceError(std::uint64_t ecid)> exit) { exit_ = std::move(exit); }

  // One tick of the steps' timer; the timer calls it every second.
  void Tick();
  // A link of the page was clicked.
  void OnLink(int linkId);

  const views::DfuSteps& Steps() const { return steps_; }
  std::optional<tether::RecoveryDevice> Found() const { return found_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* ExitButton() const { return exitButton_; }
  QPushButton* RepairButton() const { return repairButton_; }
  QLabel* FoundText() const { return foundText_; }

 protected:
  // Leaving the page ends the steps: their give-up message belongs to this page.
  void hideEvent(QHideEvent* event) override;

 private:
  // The watcher reported a change: a phone that arrives ends the steps at once.
  void OnDevicesChanged();
  void ShowFound(const tether::RecoveryDevice& device);
  void ShowSteps();
  void ExitRecovery();

  Detector detect_;
  Teller tell_;
  DeviceAction repair_;
  std::function<tether::DeviceError(std::uint64_t)> exit_;
  views::DfuSteps steps_;
  std::optional<tether::RecoveryDevice> found_;
  QTimer ticker_;
  std::thread exitWorker_;
  QLabel* stepLabels_[3] = {};
  QLabel* holdText_ = nullptr;
  QWidget* stepsPanel_ = nullptr;
  QWidget* foundPanel_ = nullptr;
  QLabel* foundText_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QPushButton* repairButton_ = nullptr;
};

// Page 110023: how to leave recovery and DFU mode without a repair.
class CDfuExitDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  explicit CDfuExitDlg(QWidget* parent = nullptr);
  void InitPage() override;
};

}  // namespace quarry
