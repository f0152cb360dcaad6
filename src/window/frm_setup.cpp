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
  const Text uninstaller = DeployUninstaller(state_, platform_, source_dir);
  if (!uninstaller.empty()) RegisterUninstallEntry(state_, platform_, source_dir, uninstaller);
  ActivateLayout(state_, platform_);
  if (state_.Report.empty()) AddToLanguageProfile(state_, platform_);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

ExitStatus ReportOutcome(Platform& platform, bool silent, const Text& message, bool failed,
                         bool restart, const char16_t* restart_line, const char16_t* title) {
  const ExitStatus outcome = failed ? kExitReportedFailure : restart ? kExitRestartNeeded : kExitInstalled;
  if (!silent) {
    Text shown = message;
    if (outcome == kExitRestartNeeded) shown.Append(u'\n').Append(restart_line);
    platform.ShowMessage(shown, kMessageInformation, title);
  }
  return outcome;
}

void FrmSetup::Activate() {
  const bool installed = state_.Report.empty();
  outcome_ = ReportOutcome(platform_, silent_, installed ? Text(kSuccessMessage) : state_.Report, !installed,
                           state_.RestartNeeded, u"请重新启动计算机以完成安装。", kCaption);
  platform_.UnloadWindow();
}
