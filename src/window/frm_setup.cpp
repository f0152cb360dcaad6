#include "window/frm_setup.h"

#include "deployment/deployment.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"
#include "window/backdrop.h"

const char16_t kCaption[] = u"Tavrel输入法安装";
const char16_t kSuccessMessage[] = u"Tavrel输入法安装成功完成！";

void FrmSetup::Load() {
  // A second run started meanwhile waits here until this one has ended.
  platform_.TakeRunLock();
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
  ActivateLayout(state_, platform_);
  if (state_.Report.empty())
    AddToLanguageProfile(state_, platform_);
  else
    RemoveWhatTheRunCreated(state_, platform_, removal_);
}

// The list entries first, as the uninstaller removes them: a run ended in between leaves no
// entry naming a slot that is not ours.
void RemoveWhatTheRunCreated(InstallerState& state, Platform& platform, PlatformRemoval& removal) {
  RemoveAddedEntries(state, platform, removal);
  RemoveCreatedSlot(state, removal);
  RemoveCreatedFiles(state, platform);
}

void FrmSetup::Resize() { RepaintAndPlaceLabel(platform_); }

void FrmSetup::Activate() {
  const bool installed = state_.Report.empty();
  const Text success = kSuccessMessage;
  platform_.ShowMessage(installed ? success : state_.Report, kMessageInformation, kCaption);
  outcome_ = installed ? kExitInstalled : kExitReportedFailure;
  platform_.UnloadWindow();
}
