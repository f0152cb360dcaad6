#include "window/frm_setup.h"

#include "deployment/activation.h"
#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "registration/registry_read.h"
#include "registration/setup_entry.h"
#include "registration/uninstall_entry.h"
#include "window/backdrop.h"
#include "window/user_part.h"

const char16_t kCaption[] = u"Tavrel输入法安装";
// Appended to the caption: "Tavrel输入法安装成功完成！".
const char16_t kCompletedSuccessfully[] = u"成功完成！";
const char16_t kOnly32BitLine[] = u"此输入法只能在32位程序中使用。";
const char16_t kSignOutLine[] = u"请注销并重新登录后使用此输入法。";

namespace {

// The machine's part of an installation, which serves every user of the machine. True when
// it wrote the per-user setup entry, which gives every other user their part at sign-in.
bool InstallMachinePart(InstallerState& state, Platform& platform, PlatformRemoval& removal,
                        const Text& source_dir) {
  RegisterLayoutSlot(state, platform);
  CloseKey(platform, state.KeyHandle);
  state.KeyHandle = 0;
  // The slot on the disk before a list names it: the two parts of the registry are written
  // at separate moments, and a power cut could otherwise keep the entry without the slot.
  removal.RegFlushKey(RegistryRoot::kLocalMachine);
  // From here on a failing operation is passed over and the run goes on.
  DeployFiles(state, platform, source_dir);
  // Listed in Apps & Features, with the uninstaller it starts, once the files are in place;
  // and each user's part at their next sign-in, from the sign-in program's copy.
  if (state.InstallFailed) return false;
  const Text uninstaller = DeployUninstaller(state, platform, source_dir);
  if (uninstaller.empty()) return false;
  RegisterUninstallEntry(state, platform, source_dir, uninstaller);
  if (state.InstallFailed) return false;
  const bool sign_in_program = !DeploySignInProgram(state, platform, source_dir).empty();
  if (!sign_in_program || state.InstallFailed) return false;
  RegisterSetupEntry(state, platform, state.Slot);
  return true;
}

}  // namespace

void TurnOffVirtualizationOnVista(Platform& platform) {
  if (QueryNtVersion(platform) >= 600) platform.TurnOffVirtualization();
}

void FrmSetup::Load() {
  // A second run started meanwhile waits here until this one has ended.
  platform_.TakeRunLock();
  TurnOffVirtualizationOnVista(platform_);
  platform_.SetCaption(kCaption);
  PaintBackdrop(platform_);
  const Text source_dir = DetermineDirectories(state_, platform_);
  // Nothing is written when a file to copy is missing.
  CheckSourceFiles(state_, platform_, source_dir);
  if (!state_.Report.empty()) return;
  const bool setup_entry = InstallMachinePart(state_, platform_, removal_, source_dir);
  // The system account's lists are the logon screen's, no user's: each user gets their part
  // at their next sign-in, and without the per-user setup entry (a folder without the
  // programs that write and run it) no user ever would: the run fails.
  if (platform_.RunsAsSystemAccount()) {
    if (!setup_entry) state_.InstallFailed = true;
    return;
  }
  InstallUserPart(state_, platform_);
  user_part_ = true;
  // Done for this user: the per-user setup entry's command does not run for them again.
  if (!state_.InstallFailed) MarkUserPartDone(platform_);
}

// The list entries first, as the uninstaller removes them: a run ended in between leaves no
// entry naming a slot that is not ours.
void RemoveWhatTheRunCreated(InstallerState& state, Platform& platform, PlatformRemoval& removal) {
  RemoveAddedEntries(state, platform, removal);
  RemoveCreatedSetupEntry(state, platform, removal);
  RemoveCreatedSlot(state, removal);
  RemoveCreatedEntry(state, removal);
  RemoveCreatedFiles(state, platform);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

ExitStatus OutcomeOf(bool failed, bool restart) {
  return failed ? kExitReportedFailure : restart ? kExitRestartNeeded : kExitInstalled;
}

namespace {

// The message box's text: the failure report, or the success message with a line for each
// thing the user must know: the layout comes only at the next sign-in (`sign_in_again`), only
// 32-bit programs get it, a file waits for the restart.
Text MessageOf(const InstallerState& state, ExitStatus outcome, bool sign_in_again) {
  if (outcome == kExitReportedFailure) return state.Report;
  Text message = kCaption;
  message.Append(kCompletedSuccessfully);
  if (sign_in_again) message.Append(u'\n').Append(kSignOutLine);
  if (state.Only32Bit) message.Append(u'\n').Append(kOnly32BitLine);
  if (outcome == kExitRestartNeeded) message.Append(u"\n请重新启动计算机以完成安装。");
  return message;
}

}  // namespace

void FrmSetup::Activate() {
  if (state_.Report.empty() && state_.InstallFailed) state_.Report.Append(u"Tavrel输入法").Append(u"未能安装成功！");
  outcome_ = OutcomeOf(!state_.Report.empty(), state_.RestartNeeded);
  if (outcome_ == kExitReportedFailure) RemoveWhatTheRunCreated(state_, platform_, removal_);
  // Everything is in place whatever the activation gives, so it decides nothing. From
  // Windows 8 on, loading a layout has no effect in a process that does not own the window
  // with the keyboard focus: only now is the window shown and active; a silent run has none.
  const bool activate = outcome_ != kExitReportedFailure && user_part_ && !silent_;
  const bool sign_in_again = activate && !ActivateLayout(state_, platform_);
  if (!silent_) platform_.ShowMessage(MessageOf(state_, outcome_, sign_in_again), kMessageInformation, kCaption);
  platform_.UnloadWindow();
}
