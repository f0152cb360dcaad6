#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Exit status of the program: the outcome the message box showed.
enum ExitStatus : int {
  kExitInstalled = 0,     // the success message
  kExitReportedFailure = 1,  // a failure report
  kExitNotRun = 2,        // no installation report was shown (the window could not be made)
};

/// The installer's only window. Its Load handler registers the layout and copies the files
/// while the window is hidden; Resize repaints the backdrop; Activate, once the window is
/// shown and holds the keyboard focus, loads and activates the layout, adds it to the user's
/// language profile, reports and unloads.
class FrmSetup final : public WindowEvents {
 public:
  explicit FrmSetup(Platform& platform) : platform_(platform) {}
  FrmSetup(const FrmSetup&) = delete;
  FrmSetup& operator=(const FrmSetup&) = delete;

  void Load() override;
  void Resize() override;
  void Activate() override;

  const InstallerState& state() const { return state_; }
  /// What the report shown by Activate said; kExitNotRun before it is shown.
  ExitStatus Outcome() const { return outcome_; }

 private:
  Platform& platform_;
  InstallerState state_;
  ExitStatus outcome_ = kExitNotRun;
};

extern const char16_t kCaption[];
extern const char16_t kOnly32BitLine[];

/// From NT 6.0 on, turns file and registry virtualization off for the process, before its
/// first write; calls nothing on older systems.
void TurnOffVirtualizationOnVista(Platform& platform);
extern const char16_t kSuccessMessage[];
