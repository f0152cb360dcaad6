#include "window/user_part.h"

#include "deployment/activation.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"

void InstallUserPart(InstallerState& state, Platform& platform) {
  RegisterPreloadEntry(state, platform);
  if (!state.InstallFailed && !AddToLanguageProfile(state, platform)) state.InstallFailed = true;
}

void RemoveUserPart(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  RemovePreloadEntries(state, platform, removal);
  RemoveFromLanguageProfile(platform, state.OwnSlots);
}

ExitStatus RunSignInCommand(Platform& platform, PlatformRemoval& removal, SignInCommand command, uint32_t slots) {
  // The programs' lock: no other run of theirs in this session changes the lists meanwhile.
  platform.TakeRunLock();
  UninstallerState state;
  if (command == SignInCommand::kRemoveFromUser) {
    // The removal stays on the machine: a slot another input method has taken since is
    // theirs, and so are the list entries naming it.
    state.OwnSlots = slots & ~FindSlotsOfOtherInputMethods(state, platform);
    RemoveUserPart(state, platform, removal);
    removal.RegFlushKey(RegistryRoot::kCurrentUser);
    return OutcomeOf(state.RemovalFailed, /*restart=*/false);
  }
  FindOwnSlots(state, platform);
  const uint32_t ours = slots & state.OwnSlots;
  if (command != SignInCommand::kAddToUser || ours == 0) return kExitInstalled;
  while (!(ours >> state.Slot & 1)) ++state.Slot;
  InstallUserPart(state, platform);
  return OutcomeOf(state.InstallFailed, /*restart=*/false);
}
