#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Reads the system directory into SystemDir and returns the program's directory with
/// exactly one trailing backslash.
Text DetermineDirectories(InstallerState& state, Platform& platform);

/// Copies "tvl1.IME" and "tvl1.MB" from source_dir into the system directory, each only
/// when present in the current directory, appending a message to Report for each absent
/// one. Errors are passed over. A copy that fails, unless the target already holds the
/// same bytes, or a system directory that could not be read, sets InstallFailed.
void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// When Report is still empty, loads and activates the layout named in ValueBuffer, or
/// reports failure when it cannot be loaded or an earlier step did not complete.
void ActivateLayout(InstallerState& state, Platform& platform);
