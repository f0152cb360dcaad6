#pragma once
// The user's part of an installation and of a removal: what belongs to the account the
// program runs as (its lists of layouts and its language profile), apart from the machine's
// part (slot, files, entries) that serves every user. An installation by the system account
// leaves it out; every other user gets it at sign-in from the per-user setup entry's command.
#include <stdint.h>

#include "platform/platform.h"
#include "window/command_line.h"
#include "window/frm_setup.h"
#include "window/uninstaller_state.h"

/// Enters the layout of Slot in the running user's lists (RegisterPreloadEntry, which leaves
/// its identifier in ValueBuffer) and language profile (AddToLanguageProfile). Writes
/// nothing where InstallFailed is set already; sets it where a write or the profile fails.
/// Never activates the layout.
void InstallUserPart(InstallerState& state, Platform& platform);

/// Takes the layouts of OwnSlots out of the running user's lists (RemovePreloadEntries) and
/// language profile.
void RemoveUserPart(UninstallerState& state, Platform& platform, PlatformRemoval& removal);

/// The per-user setup entry's command, run by Windows at a user's sign-in: the user's part
/// alone, silently, under the program's lock. kAddToUser installs it for the first of
/// `slots` whose layout slot still names the input method's module (read only: nothing under
/// HKEY_LOCAL_MACHINE is written); where none does, the machine's part is gone and nothing is
/// written. kRemoveFromUser removes the layouts of `slots`, except those of slots another
/// input method has taken since. kExitInstalled (0), or
/// kExitReportedFailure (1) when a write failed.
ExitStatus RunSignInCommand(Platform& platform, PlatformRemoval& removal, SignInCommand command, uint32_t slots);
