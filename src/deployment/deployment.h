#pragma once
// Which files go where, and the rollback of a failed run; each file is put in place or
// removed by the steps of placement.h.
#include "deployment/placement.h"
#include "platform/platform.h"
#include "window/installer_state.h"
#include "window/uninstaller_state.h"

/// Reads the system directory into SystemDir and returns the program's directory with
/// exactly one trailing backslash.
Text DetermineDirectories(InstallerState& state, Platform& platform);

/// The presence tests of "tvl1.IME" and "tvl1.MB" in source_dir (the program's folder, with
/// its trailing backslash: the folder the copies come from, whatever the current directory),
/// before anything is written: appends a message to Report for each absent one (a test that
/// cannot be carried out lets the copy be attempted).
void CheckSourceFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// Copies "tvl1.IME" and "tvl1.MB" from source_dir into the system directory, after removing
/// the leftovers of an earlier run there. On 64-bit Windows, "x64\tvl1.IME" from source_dir
/// and "tvl1.MB" go into the native system directory alike; where source_dir holds no
/// "x64\tvl1.IME", or where the native machine is not x64 (ARM64), Only32Bit is set
/// instead. A target that already holds its source's bytes is left as it is and counts as in
/// place (unless an operation pending at the restart names it). In each directory, when a file that differs must wait for the next restart, both
/// wait: the module and its code table change together. A copy that fails (unless the
/// target holds the same bytes), or a system directory that could not be read, sets
/// InstallFailed. Records the files created where there was none in CreatedFiles.
void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// Copies "tvluninstall.exe" from source_dir into the Windows directory shared by all users,
/// by the rules of DeployFiles (CreatedFiles.Uninstaller when it was not there before), and
/// returns its path there. Returns empty text, copying nothing, when source_dir lacks it,
/// or (then with InstallFailed) when the Windows directory is unknown.
Text DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir);

/// Copies "tvluser.exe", the per-user setup entry's program, from source_dir into the Windows
/// directory as DeployUninstaller does (CreatedFiles.SignInProgram), and returns its path there.
Text DeploySignInProgram(InstallerState& state, Platform& platform, const Text& source_dir);

// Removal.

/// Removes the leftovers of an ended run, then "tvl1.IME" and "tvl1.MB", from the system
/// directory, and on 64-bit Windows from the native one too. Sets Found for each file that
/// was there, and RemovalFailed for each that stays, or when the system directory cannot be
/// read.
void RemoveFiles(UninstallerState& state, Platform& platform);

/// Removes the files in CreatedFiles (the installer's failure path), the uninstaller's copy among them.
void RemoveCreatedFiles(InstallerState& state, Platform& platform);

/// Removes the uninstaller's copy in the Windows directory, and `with_sign_in_program` the
/// per-user setup entry's program there too, as RemoveFiles does, except that the deletion
/// at the next restart (the copy running now) does not set RestartNeeded.
void RemoveUninstaller(UninstallerState& state, Platform& platform, bool with_sign_in_program);
