#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

constexpr int kSlotCount = 10;
constexpr int32_t kPlatformNt = 2;  // the NT family's platform identifier

/// The language of every slot's layout: Chinese (PRC).
inline constexpr char kLanguageId[] = "0804";

/// "E02" + slot digit + kLanguageId.
Text LayoutIdForSlot(int32_t slot);

/// The NT family's version from GetVersionExA as 100 * major + minor (nonzero on every NT
/// version): 600 for Vista, 602 for Windows 8 and, to a program without a manifest, 8.1, 10
/// and 11. 0 on Windows 95/98/Me and when the query fails.
int32_t QueryNtVersion(Platform& platform);

/// Finds the first of the ten layout slots that is free (absent, or a key holding neither
/// "Ime File" nor "Layout File") or already names "tvl1.IME",
/// creates its key under HKEY_LOCAL_MACHINE and writes the three layout values. Leaves
/// Slot, LayoutKeyPath (which the installer does not change afterwards) and KeyHandle open
/// on the slot key (0 when nothing was created).
/// A write that fails counts when the value already holds exactly the bytes it would have
/// written. Sets InstallFailed when every slot holds another input method (nothing is then
/// written), when the slot key cannot be created or opened, or when a value still differs
/// after its write.
void RegisterLayoutSlot(InstallerState& state, Platform& platform);

// Removal.

/// True when `layout_id` is, without regard to case, the identifier of one of the slots
/// whose bits are set in `slots` (bit n: slot n).
bool NamesOwnSlot(uint32_t slots, const Text& layout_id);

/// The installer's failure path: deletes the slot key RegisterLayoutSlot created (or took
/// while it held no value); a slot that was there before stays.
void RemoveCreatedSlot(InstallerState& state, PlatformRemoval& removal);

/// Finds, under HKEY_LOCAL_MACHINE and without changing anything, every one of the ten
/// layout slots whose "Ime File" names "tvl1.IME" without regard to case (the file system
/// does not distinguish), wherever it lies among them: sets bit n of OwnSlots and Found for
/// each such slot n. Leaves no key open.
void FindOwnSlots(UninstallerState& state, Platform& platform);

/// The slots (bit n: slot n) whose "Ime File" names a module other than "tvl1.IME": another
/// input method's, read under HKEY_LOCAL_MACHINE without changing anything.
uint32_t FindSlotsOfOtherInputMethods(InstallerState& state, Platform& platform);

/// Deletes the slots in OwnSlots; the slots of other input methods are not touched. Sets
/// RemovalFailed when one cannot be deleted. The list entries naming them go first: a run
/// ended in between finds the slots again, and through them the entries.
void DeleteOwnSlots(UninstallerState& state, PlatformRemoval& removal);
