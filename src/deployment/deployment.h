#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Reads the system directory into SystemDir and returns the program's directory with
/// exactly one trailing backslash.
Text DetermineDirectories(InstallerState& state, Platform& platform);

/// Copies "tvl1.IME" and "tvl1.MB" from source_dir into the system directory, each only
/// when present in the current directory, appending a message to Report for each absent
/// one. Errors are passed over. A copy that fails, unless the target already holds the
/// same bytes, or a system directory that could not be read, sets InstallFailed; a copy
/// that waits for the next restart, or leaves the earlier file to be deleted then, sets
/// RestartNeeded.
void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// Copies "tvluninstall.exe" from source_dir into the Windows directory shared by all users,
/// by the rules of DeployFiles; true, with its path there in TargetPath, when it was there
/// to copy. False, copying nothing, when source_dir lacks it, or (then with InstallFailed)
/// when the Windows directory is unknown.
bool DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir);

/// True when `layout` is the handle of the input-method layout `layout_id`: its low 32 bits
/// equal the identifier read as a hexadecimal number (E0200804 gives 0xE0200804).
bool IsHandleOfLayout(uintptr_t layout, const Text& layout_id);

/// When Report is still empty, loads and activates the layout named in ValueBuffer, or
/// reports failure when an earlier step did not complete, the load fails, or the load
/// returns another layout (the system falls back to its default one) while the list of
/// loaded layouts, read right after, does not hold the layout's handle either.
void ActivateLayout(InstallerState& state, Platform& platform);

// Removal.

/// Removes "tvl1.IME" and "tvl1.MB" from the system directory (a file in use is deleted at
/// the next restart, which counts as removed and sets RestartNeeded). Sets Found for each
/// file that was there, and RemovalFailed for each that stays, or when the system directory
/// cannot be read.
void RemoveFiles(UninstallerState& state, Platform& platform, PlatformRemoval& removal);

/// Removes the uninstaller's copy in the Windows directory, as RemoveFiles does, except that
/// its deletion at the next restart (the copy running now) does not set RestartNeeded.
void RemoveUninstaller(UninstallerState& state, Platform& platform, PlatformRemoval& removal);
