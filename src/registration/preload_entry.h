#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Enters the slot's layout in the current user's preload list: walks
/// "keyboard layout\preload\1", "\2", ... and stops at the entry whose default value
/// already holds the layout identifier or at the first missing number, which it creates;
/// then writes the identifier there. Closes every key handle, the slot key included.
/// Leaves the identifier in ValueBuffer. Writes nothing when the slot step failed, and
/// sets InstallFailed when the entry cannot be created, or its write fails while it does
/// not already hold the identifier.
void RegisterPreloadEntry(InstallerState& state, Platform& platform);
