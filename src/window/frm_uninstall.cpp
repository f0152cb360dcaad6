#include "window/frm_uninstall.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "window/backdrop.h"

const char16_t kUninstallCaption[] = u"Tavrel输入法卸载";

void FrmUninstall::Load() {
  // The installers' lock: neither walks the lists while this run changes them.
  platform_.TakeRunLock();
  platform_.SetCaption(kUninstallCaption);
  PaintBackdrop(platform_);
  // The slots first: the list entries to remove are those naming them.
  RemoveLayoutSlots(state_, platform_, removal_);
  RemovePreloadEntries(state_, platform_, removal_);
  RemoveFiles(state_, platform_, removal_);
}

void FrmUninstall::Resize() {
  PaintBackdrop(platform_);
  platform_.MoveLabel(kLabelLeft, LabelTop(platform_.ScreenHeight()));
}

void FrmUninstall::Activate() {
  // The input method's name (the caption's first 9 characters), then: all removed, nothing to
  // remove, or something stays.
  static const char16_t kOutcomes[] = u"卸载成功完成！\0未安装。\0未能卸载成功！";
  const int outcome = state_.RemovalFailed ? 13 : state_.Found ? 0 : 8;
  const Text caption = platform_.Caption();  // the uninstaller's, set at load
  platform_.ShowMessage(caption.Left(9).Append(kOutcomes + outcome), kMessageInformation, caption);
  outcome_ = outcome == 13 ? kExitReportedFailure : kExitInstalled;
  platform_.UnloadWindow();
}
