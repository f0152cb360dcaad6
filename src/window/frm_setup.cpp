#include "window/frm_setup.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "window/backdrop.h"

const char16_t kCaption[] = u"Tavrel输入法安装";
const char16_t kSuccessMessage[] = u"Tavrel输入法安装成功完成！";
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
  RegisterLayoutSlot(state_, platform_);
  RegisterPreloadEntry(state_, platform_);
  const Text source_dir = DetermineDirectories(state_, platform_);
  // From here on a failing operation is passed over and the run goes on.
  DeployFiles(state_, platform_, source_dir);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

void FrmSetup::Activate() {
  // From Windows 8 on, loading a layout has no effect in a process that does not own the
  // window with the keyboard focus: only now is the window shown and active.
  ActivateLayout(state_, platform_);
  const bool installed = state_.Report.empty();
  Text success = kSuccessMessage;
  if (state_.Only32Bit) success.Append(u'\n').Append(kOnly32BitLine);
  platform_.ShowMessage(installed ? success : state_.Report, kMessageInformation, kCaption);
  outcome_ = installed ? kExitInstalled : kExitReportedFailure;
  platform_.UnloadWindow();
}
