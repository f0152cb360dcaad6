#pragma once
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

/// How PlaceFile put the file in place.
enum class Placement { kFailed, kCreated, kReplaced, kAtRestart };

/// Puts a copy of `source` at `target`, whole or not at all: the copy is made beside the
/// target, flushed, and only then takes its name, so that a full disk or a run ended
/// meanwhile leaves the earlier file as it was and at most a "tvlXXXX.tmp" file, which
/// RemoveLeftovers recognises. An earlier file is renamed aside, the copy moved in, and the
/// old file deleted, at the next restart where it is still mapped. With `wait`, or where the
/// target is in use and cannot be renamed now, the complete copy is scheduled to take its
/// place at the next restart (kAtRestart). Sets RestartNeeded for whatever waits for it.
Placement PlaceFile(InstallerState& state, Platform& platform, const Text& source, const Text& target,
                    bool wait);

/// Copies "tvl1.IME" and "tvl1.MB" from source_dir into the system directory, after removing
/// the leftovers of an earlier run there. On 64-bit Windows, "x64\tvl1.IME" from source_dir
/// and "tvl1.MB" go into the native system directory alike; where source_dir holds no
/// "x64\tvl1.IME", Only32Bit is set instead. In each directory, when either file must wait
/// for the next restart, both wait: the module and its code table change together. A copy
/// that fails, unless the target already holds the same bytes, or a system directory that
/// could not be read, sets InstallFailed. Records the files created where there was none in
/// CreatedFiles.
void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir);

/// Copies "tvluninstall.exe" from source_dir into the Windows directory shared by all users,
/// by the rules of DeployFiles (bit 4 of CreatedFiles when it was not there before); true,
/// with its path there in TargetPath, when it was there
/// to copy. False, copying nothing, when source_dir lacks it, or (then with InstallFailed)
/// when the Windows directory is unknown.
bool DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir);

// Removal.

/// Outcome of removing a file.
enum class FileRemoval { kAbsent, kRemoved, kFailed };

/// Removes the installed file at the full path `path`. A file in use, or one that cannot be
/// deleted now, is renamed aside where it can be (its name is then free at once) and
/// deleted at the next restart, under its own name where the rename fails; so is a file
/// whose replacement is still pending, after that replacement, so that the restart ends
/// with it gone. Both count as kRemoved and set RestartNeeded. kFailed when it stays and
/// nothing is scheduled (it is then as it was).
FileRemoval RemoveInstalledFile(InstallerState& state, Platform& platform, const Text& path);

/// Deletes the files "tvl*.tmp" that an ended run left in `directory`, except those an
/// operation pending at the next restart names; one that cannot be deleted now (a module
/// still mapped) is scheduled for deletion at the next restart. Either way of waiting for
/// the restart sets RestartNeeded.
void RemoveLeftovers(InstallerState& state, Platform& platform, const Text& directory);

/// Removes the leftovers of an ended run, then "tvl1.IME" and "tvl1.MB", from the system
/// directory, and on 64-bit Windows from the native one too. Sets Found for each file that
/// was there, and RemovalFailed for each that stays, or when the system directory cannot be
/// read.
void RemoveFiles(UninstallerState& state, Platform& platform);

/// Removes the files in CreatedFiles (the installer's failure path), the uninstaller's copy among them.
void RemoveCreatedFiles(InstallerState& state, Platform& platform);

/// Removes the uninstaller's copy in the Windows directory, as RemoveFiles does, except that
/// its deletion at the next restart (the copy running now) does not set RestartNeeded.
void RemoveUninstaller(UninstallerState& state, Platform& platform);
