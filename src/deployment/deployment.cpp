#include "deployment/deployment.h"

#include "deployment/installed_files.h"
#include "registration/registry_read.h"

namespace {

Text InDirectory(const Text& directory, const char* name) {
  Text path = directory;  // built in place: a copy of a Text is 1 KiB
  path.Append(u'\\').Append(name);
  return path;
}

// The copy is complete beside `target`, which holds an earlier file (`attributes`).
Placement ReplaceExisting(InstallerState& state, Platform& platform, const Text& copy, const Text& target,
                          uint32_t attributes, bool wait) {
  const bool read_only = attributes & kAttributeReadOnly;  // neither renamed nor replaced as it is
  if (read_only) platform.SetFileAttributes(target, attributes & ~kAttributeReadOnly);
  Text aside;
  bool schedule = true;
  if (!wait && !platform.FileInUse(target) && platform.MakeFileBeside(target, &aside)) {
    if (platform.MoveFile(target, aside, /*replace=*/true)) {
      if (platform.MoveFile(copy, target, /*replace=*/false)) {
        // Only now that the target holds the new file may the old one go; a module still
        // mapped (NT) is deleted at the next restart.
        if (!platform.DeleteFile(aside) && platform.MoveAtRestart(aside, Text())) state.RestartNeeded = true;
        return Placement::kReplaced;
      }
      // Should even the way back fail, the restart gives the old file its name back.
      if (!platform.MoveFile(aside, target, /*replace=*/false)) platform.MoveAtRestart(aside, target);
      schedule = false;
    } else {
      platform.DeleteFile(aside);  // taken in use since it was probed, or denied
    }
  }
  // The complete copy waits beside the target and takes its place at the next restart.
  if (schedule && platform.MoveAtRestart(copy, target)) {
    state.RestartNeeded = true;
    return Placement::kAtRestart;
  }
  if (read_only) platform.SetFileAttributes(target, attributes);
  return Placement::kFailed;
}

// A copy that fails counts where the target already holds the same bytes (a user without
// the rights to replace what an administrator installed).
Placement DeployFile(InstallerState& state, Platform& platform, const Text& source, const Text& target,
                     bool wait) {
  state.TargetPath = target;
  const Placement placed = PlaceFile(state, platform, source, target, wait);
  if (placed == Placement::kFailed && !platform.FilesMatch(source, target)) state.InstallFailed = true;
  return placed;
}

// A file in use, or one an operation pending at the restart names (an uninstallation's
// deletion scheduled under the name would take a file put in place now): the new file waits
// for the restart, scheduled after that operation.
bool MustWait(Platform& platform, const Text& target) {
  return platform.FileInUse(target) || platform.PendingAtRestart(target);
}

// Puts `module` and source_dir's code table into `directory`, after removing the leftovers of
// an earlier run there. Until the restart, a new module would run against the old code table,
// or the other way round: when either must wait, both wait. Bits `created` (module) and
// `created` << 1 (table) of CreatedFiles record a file created where there was none.
void DeployPair(InstallerState& state, Platform& platform, const Text& directory, const Text& module,
                const Text& source_dir, uint32_t created) {
  RemoveLeftovers(state, platform, directory);
  const Text module_target = InDirectory(directory, kModuleName), table_target = InDirectory(directory, kTableName);
  bool wait = MustWait(platform, module_target) || MustWait(platform, table_target);
  const Placement placed = DeployFile(state, platform, module, module_target, wait);
  if (placed == Placement::kCreated) state.CreatedFiles |= created;
  wait = wait || placed == Placement::kAtRestart;
  if (DeployFile(state, platform, Text(source_dir).Append(kTableName), table_target, wait) == Placement::kCreated)
    state.CreatedFiles |= created << 1;
}

}  // namespace

Placement PlaceFile(InstallerState& state, Platform& platform, const Text& source, const Text& target,
                    bool wait) {
  const uint32_t attributes = platform.FileAttributes(target);
  Text copy;
  if ((attributes != kNoFile && (attributes & kAttributeDirectory)) || !platform.MakeFileBeside(target, &copy))
    return Placement::kFailed;
  // The copy is a new file made here, so it is never read-only, whatever the source is.
  if (platform.CopyFlushed(source, copy)) {
    if (attributes == kNoFile) {
      if (platform.MoveFile(copy, target, /*replace=*/false)) return Placement::kCreated;
    } else {
      const Placement placed = ReplaceExisting(state, platform, copy, target, attributes, wait);
      if (placed != Placement::kFailed) return placed;
    }
  }
  platform.DeleteFile(copy);
  return Placement::kFailed;
}

void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir) {
  // Never copy into the root of the current drive; nor at all when the registration failed:
  // the run will report failure, and the files would stay without a layout.
  if (state.SystemDir.empty()) state.InstallFailed = true;
  if (state.InstallFailed) return;
  DeployPair(state, platform, state.SystemDir, Text(source_dir).Append(kModuleName), source_dir, 1);
  // On 64-bit Windows the native system directory too, with the module built for its programs.
  const Text native = platform.NativeSystemDirectory();
  if (native.empty()) return;
  Text module64 = source_dir;  // the 64-bit module, below the program's folder
  module64.Append("x64\\").Append(kModuleName);
  // A presence test that cannot be carried out lets the copy be attempted.
  if (platform.FileExists(module64) == Presence::kAbsent) {
    state.Only32Bit = true;
  } else {
    state.NativePair = true;
    DeployPair(state, platform, native, module64, source_dir, 4);
  }
}

bool DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir) {
  Text source = source_dir;
  source.Append(kUninstallerFile);
  if (platform.FileExists(source) == Presence::kAbsent) return false;
  const Text directory = platform.WindowsDirectory();
  if (directory.empty()) {
    state.InstallFailed = true;  // never copy into the root of the current drive
    return false;
  }
  // What waits there for the restart is an uninstaller's running copy, deleted then: no
  // reason for this run to ask for one.
  const bool restart = state.RestartNeeded;
  RemoveLeftovers(state, platform, directory);
  state.RestartNeeded = restart;
  const Text target = InDirectory(directory, kUninstallerFile);
  if (DeployFile(state, platform, source, target, MustWait(platform, target)) == Placement::kCreated)
    state.CreatedFiles |= 16;
  return true;
}

// Removal.

FileRemoval RemoveInstalledFile(InstallerState& state, Platform& platform, const Text& path) {
  const uint32_t attributes = platform.FileAttributes(path);
  if (attributes == kNoFile) return FileRemoval::kAbsent;
  if (attributes & kAttributeDirectory) return FileRemoval::kFailed;
  const bool read_only = attributes & kAttributeReadOnly;  // not deleted as it is
  if (read_only) platform.SetFileAttributes(path, attributes & ~kAttributeReadOnly);
  // A replacement pending at the restart would bring the file back: its deletion is
  // scheduled after it, under its own name.
  const bool pending = platform.PendingAtRestart(path);
  if (!pending && !platform.FileInUse(path) && platform.DeleteFile(path)) return FileRemoval::kRemoved;
  // Renamed aside first, so that an installation before the restart finds the name free (a
  // deletion scheduled under it would take the new file).
  Text aside;
  if (!pending && platform.MakeFileBeside(path, &aside)) {
    if (platform.MoveFile(path, aside, /*replace=*/true)) {
      if (platform.MoveAtRestart(aside, Text())) {
        state.RestartNeeded = true;
        return FileRemoval::kRemoved;
      }
      platform.MoveFile(aside, path, /*replace=*/false);
    } else {
      platform.DeleteFile(aside);
    }
  }
  if (platform.MoveAtRestart(path, Text())) {
    state.RestartNeeded = true;
    return FileRemoval::kRemoved;
  }
  // Nothing scheduled: the file as it was.
  if (read_only) platform.SetFileAttributes(path, attributes);
  return FileRemoval::kFailed;
}

void RemoveLeftovers(InstallerState& state, Platform& platform, const Text& directory) {
  Text leftover;
  for (int index = 0; platform.FindLeftover(directory, index, &leftover);) {
    if (platform.PendingAtRestart(leftover)) {
      state.RestartNeeded = true;  // an ended run's operation: the restart it waits for is still to come
      ++index;
    } else if (!platform.DeleteFile(leftover)) {
      // An old module renamed aside and still mapped.
      if (platform.MoveAtRestart(leftover, Text())) state.RestartNeeded = true;
      ++index;
    }
  }
}

namespace {

void RemoveFile(UninstallerState& state, Platform& platform, const Text& directory, const char* name) {
  const FileRemoval removed = RemoveInstalledFile(state, platform, InDirectory(directory, name));
  if (removed != FileRemoval::kAbsent) state.Found = true;
  if (removed == FileRemoval::kFailed) state.RemovalFailed = true;
}

// The leftovers of an ended run in `directory`, then the files named (none after a null).
void RemoveFilesFrom(UninstallerState& state, Platform& platform, const Text& directory, const char* name,
                     const char* other = nullptr) {
  if (directory.empty()) return;
  RemoveLeftovers(state, platform, directory);
  RemoveFile(state, platform, directory, name);
  if (other) RemoveFile(state, platform, directory, other);
}

}  // namespace

void RemoveFiles(UninstallerState& state, Platform& platform) {
  DetermineDirectories(state, platform);
  // Whether the files are in the system directory cannot be known without it.
  if (state.SystemDir.empty()) state.RemovalFailed = true;
  RemoveFilesFrom(state, platform, state.SystemDir, kModuleName, kTableName);
  RemoveFilesFrom(state, platform, platform.NativeSystemDirectory(), kModuleName, kTableName);
}

void RemoveCreatedFiles(InstallerState& state, Platform& platform) {
  const Text native = platform.NativeSystemDirectory();
  for (uint32_t bit = 0; bit < 5; ++bit) {
    const Text path = bit == 4 ? InDirectory(platform.WindowsDirectory(), kUninstallerFile)
                               : InDirectory(bit < 2 ? state.SystemDir : native, bit & 1 ? kTableName : kModuleName);
    // A module the failed activation loaded is mapped still (NT): deleted at the restart.
    if ((state.CreatedFiles >> bit & 1) && !platform.DeleteFile(path) && platform.MoveAtRestart(path, Text()))
      state.RestartNeeded = true;
  }
}

void RemoveUninstaller(UninstallerState& state, Platform& platform) {
  const Text directory = platform.WindowsDirectory();
  if (directory.empty()) {
    state.RemovalFailed = true;
    return;
  }
  // The copy running now goes at the next restart; that alone needs none.
  const bool restart = state.RestartNeeded;
  RemoveFilesFrom(state, platform, directory, kUninstallerFile);
  state.RestartNeeded = restart;
}
