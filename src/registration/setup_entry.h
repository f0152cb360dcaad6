#pragma once
// The per-user setup entry (Active Setup): the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Active Setup\Installed Components\TavrelInputMethod,
// in the 32-bit view on 64-bit Windows. At each user's sign-in, before the desktop appears,
// Windows runs its "StubPath" command when the user's counterpart (the same path under
// HKEY_CURRENT_USER) is missing or holds a lower "Version", and then writes the entry's
// Version there. The commands are switches of the uninstaller's copy in the Windows
// directory, the one program the installation keeps on the machine: "/AddToUser" or
// "/RemoveFromUser", then the layout identifiers (command_line.h).
//
// "Version" is "1,0,<release>,<generation>": the release raises it at every upgrade; the
// generation is even while the entry installs and odd while it removes, so that turning the
// entry from one into the other raises it, and a run ended half-way and run again raises it
// only once.
#include <stdint.h>

#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Writes the entry that adds the layout of `slot` for each user at sign-in: the default
/// value "Tavrel输入法" (RegSetValueExW on NT), "StubPath"
/// ("<Windows directory>\tvluninstall.exe" /S /AddToUser E02n0804), "IsInstalled"
/// (REG_DWORD 1), and last "Version", raised where the entry was a removal or of an earlier
/// release. A write that
/// fails counts where the value already holds what it would have written; otherwise, as when
/// the key cannot be created, it sets InstallFailed. Sets CreatedSetupEntry or
/// TurnedBackSetupEntry. Leaves no key open.
void RegisterSetupEntry(InstallerState& state, Platform& platform, int32_t slot);

/// Writes the running user's counterpart: the entry's Version under HKEY_CURRENT_USER (below
/// Software\Wow6432Node on 64-bit Windows, where Windows looks for a 32-bit view entry's
/// counterpart), so that the entry's command does not run for a user whose part this run did.
/// Nothing where there is no entry. False when the write failed: the command then runs at
/// this user's next sign-in, and finds its work done.
bool MarkUserPartDone(Platform& platform);

/// What TurnSetupEntryIntoRemoval found and did.
enum class SetupEntryTurn { kNoEntry, kAlreadyRemoval, kTurned, kFailed };

/// Turns an installing entry into one that removes, at each user's next sign-in, the layout
/// its command names (where it names none, those of `slots`, bit n: slot n) from that user's
/// lists and language profile: "StubPath" ("... /RemoveFromUser ..."), then the raised
/// "Version". An entry that removes already stays as it is.
SetupEntryTurn TurnSetupEntryIntoRemoval(Platform& platform, uint32_t slots);

/// The installer's failure path: deletes the entry where this run created it, turns it into
/// a removal again where this run turned it back; an installing entry that was there stays.
void RemoveCreatedSetupEntry(const InstallerState& state, Platform& platform, PlatformRemoval& removal);
