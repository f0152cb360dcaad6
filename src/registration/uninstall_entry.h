#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Writes the Apps & Features entry for the uninstaller copied to `uninstaller` (its full
/// path): DisplayName "Tavrel输入法" (RegSetValueExW on NT, as "Layout Text"),
/// UninstallString and QuietUninstallString (the path quoted, the latter with " /S"),
/// DisplayIcon (path ",0"), DisplayVersion (PRODUCT_VERSION_TEXT, as the version blocks),
/// NoModify and NoRepair (REG_DWORD 1), and EstimatedSize (REG_DWORD): the size of tvl1.IME,
/// tvl1.MB and tvluninstall.exe in source_dir, and with NativePair of x64\tvl1.IME and
/// tvl1.MB once more, in KiB rounded up. A write that fails counts where the value already
/// holds exactly what it would have written; otherwise, as when the key cannot be created, it
/// sets InstallFailed. Leaves no key open; ValueBuffer, which holds the layout identifier, is
/// kept.
void RegisterUninstallEntry(InstallerState& state, Platform& platform, const Text& source_dir,
                            const Text& uninstaller);

// Removal.

/// Deletes the entry's key where this run created it (the installer's failure path).
void RemoveCreatedEntry(const InstallerState& state, PlatformRemoval& removal);

/// Deletes the entry's key. Sets Found when it was there and RemovalFailed when it stays.
void RemoveUninstallEntry(UninstallerState& state, Platform& platform, PlatformRemoval& removal);
