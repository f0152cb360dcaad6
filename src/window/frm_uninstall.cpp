#include "window/frm_uninstall.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "registration/setup_entry.h"
#include "registration/uninstall_entry.h"
#include "window/backdrop.h"
#include "window/user_part.h"

const char16_t kUninstallCaption[] = u"Tavrel输入法卸载";
const char16_t kUninstalledMessage[] = u"Tavrel输入法卸载成功完成！";
const char16_t kNotInstalledMessage[] = u"Tavrel输入法未安装。";
const char16_t kNotUninstalledMessage[] = u"Tavrel输入法未能卸载成功！";

void FrmUninstall::Load() {
  // The installers' lock: neither walks the lists while this run changes them.
  platform_.TakeRunLock();
  TurnOffVirtualizationOnVista(platform_);
  platform_.SetCaption(kUninstallCaption);
  PaintBackdrop(platform_);
  // The slots are found first, without changing anything: the list entries to remove are
  // those naming them. They go last, after the entries are on the disk, so that a run ended
  // anywhere leaves them to be found by the next. The system account's lists are no user's:
  // they stay as they are.
  FindOwnSlots(state_, platform_);
  const bool user_part = !platform_.RunsAsSystemAccount();
  if (user_part) RemoveUserPart(state_, platform_, removal_);
  removal_.RegFlushKey(RegistryRoot::kCurrentUser);
  DeleteOwnSlots(state_, removal_);
  RemoveFiles(state_, platform_);
  // Last, and only once all else is gone: the entries and the copy they run stay for a later
  // attempt.
  if (state_.RemovalFailed) return;
  // Every other user's part goes at their next sign-in, through the per-user setup entry,
  // whose command runs the sign-in program's copy: that copy then stays. (An installation
  // without the entry leaves it nothing to run.)
  const SetupEntryTurn turn = TurnSetupEntryIntoRemoval(platform_, state_.OwnSlots);
  if (turn == SetupEntryTurn::kTurned) state_.Found = true;
  if (turn == SetupEntryTurn::kFailed) state_.RemovalFailed = true;
  if (user_part) MarkUserPartDone(platform_);
  if (!state_.RemovalFailed) RemoveUninstallEntry(state_, platform_, removal_);
  if (!state_.RemovalFailed) RemoveUninstaller(state_, platform_, /*with_sign_in_program=*/turn == SetupEntryTurn::kNoEntry);
}

void FrmUninstall::Resize() { RepaintAndPlaceLabel(platform_); }

void FrmUninstall::Activate() {
  const char16_t* message = state_.RemovalFailed ? kNotUninstalledMessage
                            : state_.Found       ? kUninstalledMessage
                                                 : kNotInstalledMessage;
  outcome_ = OutcomeOf(state_.RemovalFailed, state_.RestartNeeded);
  Text shown = message;
  if (outcome_ == kExitRestartNeeded) shown.Append(u"\n请重新启动计算机以完成卸载。");
  if (!silent_) platform_.ShowMessage(shown, kMessageInformation, kUninstallCaption);
  platform_.UnloadWindow();
}
