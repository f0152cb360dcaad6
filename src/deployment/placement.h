#pragma once
// Putting one file in place, or removing it, so that a program ended between any two steps
// (or a power cut) leaves a state the next run recognises and finishes. In the directory of
// the target, step by step:
//
// PlaceFile, where there is no target yet:
//   1. "tvlNNNN.tmp", a new empty file beside the target (MakeFileBeside: "tvl" and up to four
//      hexadecimal digits), then the source's bytes in it, flushed. Ended here: a partial
//      copy, which the next run deletes.
//   2. The copy takes the target's name. Done.
// PlaceFile, where the target holds an earlier file (ReplaceExisting):
//   1. As above.
//   2. "tvl" + letter + number + ".tmp" (the aside: "tvli1.tmp" for tvl1.IME, "tvlm1.tmp" for
//      tvl1.MB, "tvlu1.tmp" for tvluninstall.exe, "tvls1.tmp" for tvluser.exe), a new empty
//      file beside the target.
//      Ended here: an empty aside beside its target, deleted by the next run, as the copy.
//   3. The earlier file renamed onto the aside. Ended here: the target is missing; the next
//      run puts the aside back under the target's name before anything else is done there,
//      then deletes the copy.
//   4. The copy takes the target's name. Then the aside is deleted, or, a module still
//      mapped (NT), scheduled for deletion at the next restart. Ended before either: the
//      target is there, and the next run deletes the aside (or schedules its deletion).
//   Where the target cannot be renamed now (in use), or the caller says wait: the complete
//   copy of step 1 is scheduled to take the target's place at the next restart. A leftover
//   that a pending operation names is left to that restart.
// RemoveInstalledFile: the file is deleted; where it cannot be now, it is renamed onto an
//   aside as in steps 2 and 3 and the aside is scheduled for deletion at the restart. Ended
//   before that: the next run puts the file back, then removes it again (an uninstaller) or
//   replaces it (an installer).
//
// Earlier versions named their asides "tvlNNNN.tmp" too: such a leftover cannot be told
// from a copy and is deleted as one. Every name here matches "tvl*.tmp", which each version's
// clean-up looks for, and is an 8.3 name, which Windows 95/98/Me need for the restart.
#include "platform/platform.h"
#include "window/installer_state.h"

/// How PlaceFile put the file in place.
enum class Placement { kFailed, kCreated, kReplaced, kAtRestart };

/// Puts a copy of `source` at `target`, whole or not at all, by the steps above: a full
/// disk or a run ended meanwhile leaves the earlier file as it was, or aside where the next
/// run puts it back. With `wait`, or where the target is in use and cannot be renamed now,
/// the complete copy is scheduled to take its place at the next restart (kAtRestart). Sets
/// RestartNeeded for whatever waits for it.
Placement PlaceFile(InstallerState& state, Platform& platform, const Text& source, const Text& target,
                    bool wait);

/// Outcome of removing a file.
enum class FileRemoval { kAbsent, kRemoved, kFailed };

/// Removes the installed file at the full path `path`. A file in use, or one that cannot be
/// deleted now, is renamed aside where it can be (its name is then free at once) and
/// deleted at the next restart, under its own name where the rename fails; so is a file
/// whose replacement is still pending, after that replacement, so that the restart ends
/// with it gone. Both count as kRemoved and set RestartNeeded. kFailed when it stays and
/// nothing is scheduled (it is then as it was).
FileRemoval RemoveInstalledFile(InstallerState& state, Platform& platform, const Text& path);

/// Clears what an ended run left in `directory`: first each earlier file it left aside goes
/// back under its name where that name is free; then the other files "tvl*.tmp" are deleted,
/// except those an operation pending at the next restart names; one that cannot be deleted
/// now (a module still mapped) is scheduled for deletion at the next restart. Either way of
/// waiting for the restart sets RestartNeeded.
void RemoveLeftovers(InstallerState& state, Platform& platform, const Text& directory);
