#include "window/frm_setup.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "registration/uninstall_entry.h"
#include "window/backdrop.h"

const char16_t kCaption[] = u"Tavrel输入法安装";
// Appended to the caption: "Tavrel输入法安装成功完成！".
const char16_t kCompletedSuccessfully[] = u"成功完成！";
const char16_t kOnly32BitLine[] = u"此输入法只能在32位程序中使用。";

void TurnOffVirtualizationOnVista(Platform& platform) {
  if (QueryNtVersion(platform) >= 600) platform.TurnOffVirtualization();
}

void FrmSetup::Load() {
  // A second run started meanwhile waits here until this one has ended.
  platform_.TakeRunLock();
  TurnOffVirtualizationOnVista(platform_);
  platform_.SetCaption(kCaption);
  PaintBackdrop(platform_);
  // Nothing is written when a file to copy is missing.
  CheckSourceFiles(state_, platform_);
  if (!state_.Report.empty()) return;
  RegisterLayoutSlot(state_, platform_);
  // The slot on the disk before a list names it: the two parts of the registry are written
  // at separate moments, and a power cut could otherwise keep the entry without the slot.
  removal_.RegFlushKey(RegistryRoot::kLocalMachine);
  RegisterPreloadEntry(state_, platform_);
  const Text source_dir = DetermineDirectories(state_, platform_);
  // From here on a failing operation is passed over and the run goes on.
  DeployFiles(state_, platform_, source_dir);
  // Listed in Apps & Features, with the uninstaller it starts, once the files are in place.
  if (state_.InstallFailed) return;
  const Text uninstaller = DeployUninstaller(state_, platform_, source_dir);
  if (!uninstaller.empty()) RegisterUninstallEntry(state_, platform_, source_dir, uninstaller);
}

// The list entries first, as the uninstaller removes them: a run ended in between leaves no
// entry naming a slot that is not ours.
void RemoveWhatTheRunCreated(InstallerState& state, Platform& platform, PlatformRemoval& removal) {
  RemoveAddedEntries(state, platform, removal);
  RemoveCreatedSlot(state, removal);
  RemoveCreatedEntry(state, removal);
  RemoveCreatedFiles(state, platform);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

ExitStatus OutcomeOf(bool failed, bool restart) {
  return failed ? kExitReportedFailure : restart ? kExitRestartNeeded : kExitInstalled;
}

void FrmSetup::Activate() {
  // From Windows 8 on, loading a layout has no effect in a process that does not own the
  // window with the keyboard focus: only now is the window shown and active (or, silent,
  // the steps are done).
  ActivateLayout(state_, platform_);
  outcome_ = OutcomeOf(!state_.Report.empty(), state_.RestartNeeded);
  Text message = state_.Report;
  if (outcome_ == kExitReportedFailure) {
    RemoveWhatTheRunCreated(state_, platform_, removal_);
  } else {
    (message = kCaption).Append(kCompletedSuccessfully);
    if (state_.Only32Bit) message.Append(u'\n').Append(kOnly32BitLine);
    if (outcome_ == kExitRestartNeeded) message.Append(u"\n请重新启动计算机以完成安装。");
  }
  if (!silent_) platform_.ShowMessage(message, kMessageInformation, kCaption);
  platform_.UnloadWindow();
}
