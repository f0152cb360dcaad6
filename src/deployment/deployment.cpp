#include "deployment/deployment.h"

#include "deployment/installed_files.h"
#include "registration/registry_read.h"

namespace {

Text InDirectory(const Text& directory, const char* name) {
  Text path = directory;  // built in place: a copy of a Text is 1 KiB
  path.Append(u'\\').Append(name);
  return path;
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

// A target that holds the source's bytes already is left as it is: nothing to replace, and
// nothing to wait for. Not where an operation pending at the restart names it (an
// uninstallation's deletion, an ended run's replacement): that would change it then.
bool InPlace(Platform& platform, const Text& source, const Text& target) {
  return platform.FilesMatch(source, target) && !platform.PendingAtRestart(target);
}

// A file in use, or one an operation pending at the restart names (an uninstallation's
// deletion scheduled under the name would take a file put in place now): the new file waits
// for the restart, scheduled after that operation.
bool MustWait(Platform& platform, const Text& target) {
  return platform.FileInUse(target) || platform.PendingAtRestart(target);
}

// Puts `module_source` and source_dir's code table into `directory`, after removing the
// leftovers of an earlier run there, and records in `created` the files created where there
// was none. Until the restart, a new module would run against the old code table, or the
// other way round: when either must wait, both wait.
void DeployPair(InstallerState& state, Platform& platform, const Text& directory, const Text& module_source,
                const Text& source_dir, CreatedFileSet::Pair& created) {
  RemoveLeftovers(state, platform, directory);
  const Text module_target = InDirectory(directory, kModuleName), table_target = InDirectory(directory, kTableName);
  const Text table_source = Text(source_dir).Append(kTableName);
  const bool module_in_place = InPlace(platform, module_source, module_target);
  const bool table_in_place = InPlace(platform, table_source, table_target);
  bool wait = (!module_in_place && MustWait(platform, module_target)) ||
              (!table_in_place && MustWait(platform, table_target));
  if (!module_in_place) {
    const Placement placed = DeployFile(state, platform, module_source, module_target, wait);
    created.Module = placed == Placement::kCreated;
    wait = wait || placed == Placement::kAtRestart;
  }
  if (!table_in_place)
    created.Table = DeployFile(state, platform, table_source, table_target, wait) == Placement::kCreated;
}

// Removes a file the failed run created. One that cannot be deleted now (a module a program
// has loaded meanwhile, on NT) is deleted at the restart.
void RemoveCreatedFile(InstallerState& state, Platform& platform, const Text& path) {
  if (!platform.DeleteFile(path) && platform.MoveAtRestart(path, Text())) state.RestartNeeded = true;
}

void RemoveCreatedPair(InstallerState& state, Platform& platform, const Text& directory,
                       const CreatedFileSet::Pair& created) {
  if (created.Module) RemoveCreatedFile(state, platform, InDirectory(directory, kModuleName));
  if (created.Table) RemoveCreatedFile(state, platform, InDirectory(directory, kTableName));
}

}  // namespace

void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir) {
  // Never copy into the root of the current drive; nor at all when the registration failed:
  // the run will report failure, and the files would stay without a layout.
  if (state.SystemDir.empty()) state.InstallFailed = true;
  if (state.InstallFailed) return;
  DeployPair(state, platform, state.SystemDir, Text(source_dir).Append(kModuleName), source_dir,
             state.CreatedFiles.SystemDir);
  // On 64-bit Windows the native system directory too, with the module built for its programs.
  const Text native = platform.NativeSystemDirectory();
  if (native.empty()) return;
  const Text module64 = Text(source_dir).Append(kNativeModuleSource);
  // A presence test that cannot be carried out lets the copy be attempted. The module is
  // built for x64: the native programs of another machine (ARM64) load none.
  if (platform.NativeMachine() != kMachineAmd64 || platform.FileExists(module64) == Presence::kAbsent) {
    state.Only32Bit = true;
  } else {
    state.NativePair = true;
    DeployPair(state, platform, native, module64, source_dir, state.CreatedFiles.NativeSystemDir);
  }
}

namespace {

// Copies `name` from source_dir into the Windows directory, as DeployUninstaller does.
Text DeployIntoWindowsDirectory(InstallerState& state, Platform& platform, const Text& source_dir, const char* name,
                                bool& created) {
  const Text source = Text(source_dir).Append(name);
  if (platform.FileExists(source) == Presence::kAbsent) return Text();
  const Text directory = platform.WindowsDirectory();
  if (directory.empty()) {
    state.InstallFailed = true;  // never copy into the root of the current drive
    return Text();
  }
  // What waits there for the restart is an uninstaller's running copy, deleted then: no
  // reason for this run to ask for one.
  const bool restart = state.RestartNeeded;
  RemoveLeftovers(state, platform, directory);
  state.RestartNeeded = restart;
  const Text target = InDirectory(directory, name);
  if (!InPlace(platform, source, target))
    created = DeployFile(state, platform, source, target, MustWait(platform, target)) == Placement::kCreated;
  return target;
}

}  // namespace

Text DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir) {
  return DeployIntoWindowsDirectory(state, platform, source_dir, kUninstallerFile, state.CreatedFiles.Uninstaller);
}

Text DeploySignInProgram(InstallerState& state, Platform& platform, const Text& source_dir) {
  return DeployIntoWindowsDirectory(state, platform, source_dir, kSignInProgram, state.CreatedFiles.SignInProgram);
}

// Removal.

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
  RemoveCreatedPair(state, platform, state.SystemDir, state.CreatedFiles.SystemDir);
  RemoveCreatedPair(state, platform, platform.NativeSystemDirectory(), state.CreatedFiles.NativeSystemDir);
  if (state.CreatedFiles.Uninstaller)
    RemoveCreatedFile(state, platform, InDirectory(platform.WindowsDirectory(), kUninstallerFile));
  if (state.CreatedFiles.SignInProgram)
    RemoveCreatedFile(state, platform, InDirectory(platform.WindowsDirectory(), kSignInProgram));
}

void RemoveUninstaller(UninstallerState& state, Platform& platform, bool with_sign_in_program) {
  const Text directory = platform.WindowsDirectory();
  if (directory.empty()) {
    state.RemovalFailed = true;
    return;
  }
  // The copy running now goes at the next restart; that alone needs none.
  const bool restart = state.RestartNeeded;
  RemoveFilesFrom(state, platform, directory, kUninstallerFile, with_sign_in_program ? kSignInProgram : nullptr);
  state.RestartNeeded = restart;
}
