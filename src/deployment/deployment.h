#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Reads the system directory into SystemDir and returns the program's directory with
/// exactly one trailing backslash.
Text DetermineDirectories(InstallerState& state, Platform& platform);

/// Copies "tvl1.IME" and "tvl1.MB" from source_dir into the system directory, each only
/// when present in the current directory, appending a message to Report for each absent
/// one. On 64-bit Windows, "x64\tvl1.IME" from source_dir and "tvl1.MB" go into the native
/// system directory alike; where source_dir holds no "x64\tvl1.IME" there, Only32Bit is set.
/// Errors are passed over. A copy that fails, unless the target already holds the same
/// bytes, or a system directory that could not be read, sets InstallFailed.
void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// True when `layout` is the handle of the input-method layout `layout_id`: its low 32 bits
/// equal the identifier read as a hexadecimal number (E0200804 gives 0xE0200804).
bool IsHandleOfLayout(uintptr_t layout, const Text& layout_id);

/// When Report is still empty, loads and activates the layout named in ValueBuffer and adds
/// it to the user's language profile (AddToLanguageProfile), or reports failure when an
/// earlier step did not complete, the load fails, the load returns another layout (the
/// system falls back to its default one) while the list of loaded layouts, read right after,
/// does not hold the layout's handle either, or the profile step does not count.
void ActivateLayout(InstallerState& state, Platform& platform);

// Removal.

/// Removes "tvl1.IME" and "tvl1.MB" from the system directory, and on 64-bit Windows from the
/// native one too (a file in use is deleted at
/// the next restart, which counts as removed). Sets Found for each file that was there,
/// and RemovalFailed for each that stays, or when the system directory cannot be read.
void RemoveFiles(UninstallerState& state, Platform& platform, PlatformRemoval& removal);
