#pragma once
#include "platform/platform.h"
#include "window/frm_setup.h"
#include "window/uninstaller_state.h"

/// The uninstaller's only window: the installer's backdrop under its own caption. Its Load
/// handler removes, while the window is hidden, what the installer put in place: the layout
/// slots naming the module, their entries in the running user's lists and language profile
/// (not where it runs as the system account, whose lists are no user's), and the two files in
/// the system directory (on 64-bit Windows in the native one too). Whatever can be removed is
/// removed, whatever else fails. Last, once all that is gone, it turns the per-user setup
/// entry into a removal, which takes every other user's part at their next sign-in, and
/// removes the Apps & Features entry (where something stays, both stay for a later attempt).
/// The uninstaller's copy in the Windows directory stays for the removal's command; only
/// where there is no per-user setup entry does it go too. Activate reports and unloads;
/// `silent` as for FrmSetup.
class FrmUninstall final : public WindowEvents {
 public:
  FrmUninstall(Platform& platform, PlatformRemoval& removal, bool silent = false)
      : platform_(platform), removal_(removal), silent_(silent) {}
  FrmUninstall(const FrmUninstall&) = delete;
  FrmUninstall& operator=(const FrmUninstall&) = delete;

  void Load() override;
  void Resize() override;
  void Activate() override;

  const UninstallerState& state() const { return state_; }
  /// kExitInstalled (0) after the message that all was removed or that nothing was
  /// installed, kExitRestartNeeded (3010) when a removed file goes at the next restart,
  /// kExitReportedFailure (1) after the failure report; kExitNotRun before.
  ExitStatus Outcome() const { return outcome_; }

 private:
  Platform& platform_;
  PlatformRemoval& removal_;
  const bool silent_;
  UninstallerState state_;
  ExitStatus outcome_ = kExitNotRun;
};

extern const char16_t kUninstallCaption[];
