#include "window/frm_setup.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "registration/uninstall_entry.h"
#include "window/backdrop.h"

const char16_t kCaption[] = u"Tavrel输入法安装";
const char16_t kSuccessMessage[] = u"Tavrel输入法安装成功完成！";

void FrmSetup::Load() {
  // A second run started meanwhile waits here until this one has ended.
  platform_.TakeRunLock();
  platform_.SetCaption(kCaption);
  PaintBackdrop(platform_);
  RegisterLayoutSlot(state_, platform_);
  RegisterPreloadEntry(state_, platform_);
  const Text source_dir = DetermineDirectories(state_, platform_);
  // From here on a failing operation is passed over and the run goes on.
  DeployFiles(state_, platform_, source_dir);
  if (DeployUninstaller(state_, platform_, source_dir))
    RegisterUninstallEntry(state_, platform_, source_dir, state_.TargetPath);
  ActivateLayout(state_, platform_);
  if (state_.Report.empty()) AddToLanguageProfile(state_, platform_);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

ExitStatus OutcomeOf(bool failed, bool restart) {
  return failed ? kExitReportedFailure : restart ? kExitRestartNeeded : kExitInstalled;
}

void FrmSetup::Activate() {
  outcome_ = OutcomeOf(!state_.Report.empty(), state_.RestartNeeded);
  Text message = state_.Report;
  if (outcome_ != kExitReportedFailure) message = kSuccessMessage;
  if (outcome_ == kExitRestartNeeded) message.Append(u"\n请重新启动计算机以完成安装。");
  if (!silent_) platform_.ShowMessage(message, kMessageInformation, kCaption);
  platform_.UnloadWindow();
}
