// The recovery-mode pages' rules, apart from their windows: the guided steps with
// their counted ticks, and the repair's states (checking the tool, running, asking
// before an erase, the end) with the texts of its progress.
#pragma once

#include <QString>

#include "quarry/views/view_texts.h"
#include "tether/device/restore_run.h"

namespace quarry::views {

// The guide into recovery mode: the first step is shown, Start moves to the second
// (press the buttons), and after kStepTicks ticks the third (keep holding) looks for
// the phone until kGiveUpTicks. A phone found while the steps run ends them early.
class DfuSteps {
 public:
  static constexpr int kStepTicks = 9;
  static constexpr int kGiveUpTicks = 24;
  enum class Step { First, Second, Third };
  enum class Outcome { Waiting, Found, GaveUp };

  void Show();
  void Start();
  // One tick (a second); `found` is whether a phone in recovery or DFU mode is attached.
  Outcome Tick(bool found);

  Step step() const { return step_; }
  int ticks() const { return ticks_; }
  bool running() const { return running_; }

 private:
  Step step_ = Step::First;
  int ticks_ = 0;
  bool running_ = false;
};

class RepairFlow {
 public:
  enum class State { CheckingTool, Running, AskingErase, Succeeded, Failed, Cancelled };

  // The tool check ended: run, or fail with its message (missing, too old).
  void ToolChecked(const tether::RestoreToolCheck& check);
  // The run ended. A run that would erase asks the user, once.
  void Ended(const tether::RestoreResult& result);
  // The user's answer to the erase question: yes runs again with erase, no ends.
  void EraseAnswered(bool erase);

  State state() const { return state_; }
  bool erase() const { return erase_; }
  // English detail of a failure (the tool's message), empty otherwise.
  const QString& failure() const { return failure_; }
  // Closing is refused while the phone is being written.
  bool CanClose(const tether::RestoreProgress& progress) const;
  // The line under the progress bar.
  QString StatusText(const tether::RestoreProgress& progress, const TextLookup& lookup = {}) const;

 private:
  State state_ = State::CheckingTool;
  bool erase_ = false;
  QString failure_;
};

}  // namespace quarry::views
