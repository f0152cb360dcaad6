#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Exit status of the program: the outcome the message box showed.
enum ExitStatus : int {
  kExitInstalled = 0,     // the success message
  kExitReportedFailure = 1,  // a failure report
  kExitNotRun = 2,        // no installation report was shown (the window could not be made)
  kExitRestartNeeded = 3010,  // success; a file waits for the next restart (ERROR_SUCCESS_REBOOT_REQUIRED)
};

/// The installer's only window. Its Load handler runs the whole installation while the
/// window is hidden; Resize repaints the backdrop; Activate reports and unloads. `silent`
/// (the command line's /S): the window is never shown and Activate shows no message; the
/// outcome is the exit status alone.
class FrmSetup final : public WindowEvents {
 public:
  explicit FrmSetup(Platform& platform, bool silent = false) : platform_(platform), silent_(silent) {}
  FrmSetup(const FrmSetup&) = delete;
  FrmSetup& operator=(const FrmSetup&) = delete;

  void Load() override;
  void Resize() override;
  void Activate() override;

  const InstallerState& state() const { return state_; }
  /// The outcome Activate reported (kExitRestartNeeded for a success that waits for the
  /// next restart); kExitNotRun before.
  ExitStatus Outcome() const { return outcome_; }

 private:
  Platform& platform_;
  const bool silent_;
  InstallerState state_;
  ExitStatus outcome_ = kExitNotRun;
};

extern const char16_t kCaption[];
extern const char16_t kSuccessMessage[];

/// kExitReportedFailure when `failed`, else kExitRestartNeeded when `restart` (a file waits
/// for the next restart; the message then gets a second line asking for it), else
/// kExitInstalled.
ExitStatus OutcomeOf(bool failed, bool restart);
