#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Enters the slot's layout in the current user's lists of layouts to load at logon.
/// Windows 95/98/Me's list: walks "keyboard layout\preload\1", "\2", ... and stops at the
/// entry whose default value already holds the layout identifier, at the first subkey
/// without a value, or at the first missing number, which it creates; then writes the
/// identifier there. The NT family's list, written there as well: the values "1", "2", ...
/// of "Keyboard Layout\Preload"; the walk stops at the first number without a value or at
/// the first value naming the layout (without regard to case), and writes the identifier
/// there, leaving every other value as it is.
/// Closes every key handle, the slot key (KeyHandle; 0 when closed already) included. Leaves
/// the identifier in ValueBuffer.
/// Writes nothing when the slot step failed, and sets InstallFailed when an entry cannot be
/// created, or its write fails while it does not already hold the identifier.
void RegisterPreloadEntry(InstallerState& state, Platform& platform);

/// The installer's failure path: takes the entries RegisterPreloadEntry wrote where none
/// held the layout (AddedEntry, AddedValue) out of both lists again, leaving every other
/// entry where it is, and flushes the user's part of the registry.
void RemoveAddedEntries(InstallerState& state, Platform& platform, PlatformRemoval& removal);

// Removal.

/// Takes every entry naming the identifier of one of OwnSlots (without regard to case) out
/// of the current user's preload list, in both its forms: the numbered subkeys of
/// "keyboard layout\preload" and, on NT, the named values "1", "2", ... of that key. Each
/// form is read up to its first missing number, as Windows reads it; the entries after a
/// removed one move down one number in their order, and the numbers left over at the end
/// are deleted (a subkey as a whole key), so the list keeps no gap. Sets Found for each
/// entry removed and RemovalFailed when an entry cannot be moved or deleted. Leaves no key
/// open. (The language profile is RemoveFromLanguageProfile's, in deployment/activation.h.)
void RemovePreloadEntries(UninstallerState& state, Platform& platform, PlatformRemoval& removal);
