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

/// The installer's only window. Its Load handler, while the window is hidden, does the two
/// parts of an installation: the machine's (the layout slot, the files, the uninstaller's
/// copy, the Apps & Features entry and the per-user setup entry), then the user's (the
/// running user's lists and language profile), which a run as the system account leaves to
/// each user's sign-in. Resize repaints the backdrop; Activate, once the window is shown and
/// holds the keyboard focus, activates the layout where the run did the user's part, reports
/// and unloads. `silent` (the command line's /S): the window is never shown, Activate follows
/// Load at once, activates nothing (no window owns the focus) and shows no message; the
/// outcome is the exit status alone.
class FrmSetup final : public WindowEvents {
 public:
  FrmSetup(Platform& platform, PlatformRemoval& removal, bool silent = false)
      : platform_(platform), removal_(removal), silent_(silent) {}
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
  PlatformRemoval& removal_;
  const bool silent_;
  bool user_part_ = false;  // Load did the user's part, which the activation belongs to
  InstallerState state_;
  ExitStatus outcome_ = kExitNotRun;
};

/// A run that reports failure removes what it created: the list entries it added, the
/// per-user setup entry, the slot key, the files where there was none. Files that were there before stay whole, old
/// or new, and a slot that was there before stays: an upgrade that fails leaves the earlier
/// installation usable. Called once, where the failure is known.
void RemoveWhatTheRunCreated(InstallerState& state, Platform& platform, PlatformRemoval& removal);

extern const char16_t kCaption[];
extern const char16_t kOnly32BitLine[];

/// From NT 6.0 on, turns file and registry virtualization off for the process, before its
/// first write; calls nothing on older systems.
void TurnOffVirtualizationOnVista(Platform& platform);
extern const char16_t kCompletedSuccessfully[];
/// The success message's second line where the activation did not take: the layout is in
/// the user's list and comes at the next sign-in.
extern const char16_t kSignOutLine[];

/// kExitReportedFailure when `failed`, else kExitRestartNeeded when `restart` (a file waits
/// for the next restart; the message then gets a second line asking for it), else
/// kExitInstalled.
ExitStatus OutcomeOf(bool failed, bool restart);
