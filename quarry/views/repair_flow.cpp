#include "quarry/views/repair_flow.h"

namespace quarry::views {

using tether::RestoreStage;

void DfuSteps::Show() { *this = DfuSteps(); }

void DfuSteps::Start() {
  step_ = Step::Second;
  ticks_ = 0;
  running_ = true;
}

DfuSteps::Outcome DfuSteps::Tick(bool found) {
  if (!running_) return Outcome::Waiting;
  Outcome outcome = Outcome::Waiting;
  if (found) {
    outcome = Outcome::Found;
  } else if (step_ == Step::Third && ticks_ >= kGiveUpTicks) {
    outcome = Outcome::GaveUp;
  }
  // The tick counts after its own work, so the third step begins at kStepTicks.
  ++ticks_;
  if (step_ == Step::Second && ticks_ >= kStepTicks) step_ = Step::Third;
  if (outcome != Outcome::Waiting) running_ = false;
  return outcome;
}

void RepairFlow::ToolChecked(const tether::RestoreToolCheck& check) {
  if (check.error) {
    state_ = State::Failed;
    failure_ = QString::fromStdString(check.error.text);
    return;
  }
  state_ = State::Running;
}

void RepairFlow::Ended(const tether::RestoreResult& result) {
  switch (result.end) {
    case tether::RestoreEnd::Succeeded: state_ = State::Succeeded; break;
    case tether::RestoreEnd::Cancelled: state_ = State::Cancelled; break;
    case tether::RestoreEnd::WouldErase:
      // An erase run that still says so is a tool fault, not a second question.
      state_ = erase_ ? State::Failed : State::AskingErase;
      break;
    case tether::RestoreEnd::Failed:
    case tether::RestoreEnd::ToolMissing: state_ = State::Failed; break;
  }
  failure_ = state_ == State::Failed || state_ == State::AskingErase ? QString::fromStdString(result.error.text)
                                                                       : QString();
}

void RepairFlow::EraseAnswered(bool erase) {
  if (state_ != State::AskingErase) return;
  erase_ = erase;
  state_ = erase ? State::Running : State::Cancelled;
  failure_.clear();
}

bool RepairFlow::CanClose(const tether::RestoreProgress& progress) const {
  return state_ != State::Running || progress.cancellable;
}

QString RepairFlow::StatusText(const tether::RestoreProgress& progress, const TextLookup& lookup) const {
  switch (state_) {
    case State::CheckingTool: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_CHECKING"));
    case State::AskingErase: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_WOULD_ERASE"));
    case State::Succeeded: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_DONE"));
    case State::Cancelled: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_CANCELLED"));
    case State::Failed: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_FAILED"));
    case State::Running: break;
  }
  switch (progress.stage) {
    case RestoreStage::Starting: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_STARTING"));
    case RestoreStage::Downloading:
      return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_DOWNLOAD")).arg(progress.downloadPercent);
    case RestoreStage::Detect: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_DETECT"));
    case RestoreStage::Prepare: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_PREPARE"));
    case RestoreStage::UploadFs: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_UPLOAD"));
    case RestoreStage::VerifyFs: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_VERIFY"));
    case RestoreStage::FlashFw:
    case RestoreStage::FlashBb: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_FLASH"));
    case RestoreStage::Fud:
    case RestoreStage::Finished: return ViewText(lookup, QStringLiteral("IDS_DFUDLG_STAGE_FINISH"));
  }
  return {};
}

}  // namespace quarry::views
