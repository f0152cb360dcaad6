#include "deployment/deployment.h"

namespace {

constexpr int32_t kSystemDirCapacity = 260;
const char16_t kUninstallerFile[] = u"tvluninstall.exe";

size_t FirstZero(const Text& text) {
  size_t i = 0;
  while (i < text.size() && text[i] != u'\0') ++i;
  return i;
}

// Copies `source` over `target`. A copy that fails counts where the target already holds
// the same bytes; otherwise it sets InstallFailed.
void DeployFile(InstallerState& state, Platform& platform, const Text& source, const Text& target) {
  state.TargetPath = target;
  bool at_restart = false;
  if (platform.CopyFileOver(source, state.TargetPath, &at_restart))
    state.RestartNeeded |= at_restart;
  else if (!platform.FilesMatch(source, state.TargetPath))
    state.InstallFailed = true;
}

void DeployInputMethodFile(InstallerState& state, Platform& platform, const Text& source_dir,
                           const char16_t* name, const char16_t* missing_message) {
  // A presence test that cannot be carried out lets the copy be attempted.
  if (platform.FileExists(name) == Presence::kAbsent) {
    state.Report.Append(missing_message);
    return;
  }
  if (state.SystemDir.empty()) {
    // Never copy into the root of the current drive.
    state.InstallFailed = true;
    return;
  }
  (state.TargetPath = state.SystemDir).Append(u'\\').Append(name);
  DeployFile(state, platform, source_dir + name, state.TargetPath);
}

}  // namespace

bool IsHandleOfLayout(uintptr_t layout, const Text& layout_id) {
  if (layout_id.empty() || layout_id.size() > 8) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < layout_id.size(); ++i) {
    const char16_t c = layout_id[i];
    const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                               : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  // 64-bit Windows sign-extends the 32-bit handle value to pointer size.
  return layout != 0 && static_cast<uint32_t>(layout) == value;
}

Text DetermineDirectories(InstallerState& state, Platform& platform) {
  state.SystemDir = Text::Repeat(u' ', kSystemDirCapacity);
  state.SystemDirSize = kSystemDirCapacity;
  state.Status = platform.GetSystemDirectoryA(&state.SystemDir, state.SystemDirSize);
  // 0 is a failure and 260 or more a directory that did not fit: no usable directory.
  const bool usable = state.Status > 0 && state.Status < kSystemDirCapacity;
  state.SystemDir = usable ? state.SystemDir.Left(state.Status) : Text();
  // The length is counted in bytes: a directory name with Chinese characters has fewer
  // characters than bytes, and the text then runs on into the terminating zero.
  state.SystemDir = state.SystemDir.Left(FirstZero(state.SystemDir));

  Text source_dir = platform.ProgramDirectory();
  if (source_dir.back() != u'\\') source_dir.Append(u'\\');
  return source_dir;
}

void DeployFiles(InstallerState& state, Platform& platform, const Text& source_dir) {
  DeployInputMethodFile(state, platform, source_dir, u"tvl1.IME", u"输入法文件未找到！");
  DeployInputMethodFile(state, platform, source_dir, u"tvl1.MB", u"码表文件未找到！");
}

bool DeployUninstaller(InstallerState& state, Platform& platform, const Text& source_dir) {
  const Text source = source_dir + kUninstallerFile;
  if (platform.FileExists(source) == Presence::kAbsent) return false;
  state.TargetPath = platform.WindowsDirectory();
  if (state.TargetPath.empty()) {
    // Never copy into the root of the current drive.
    state.InstallFailed = true;
    return false;
  }
  state.TargetPath.Append(u'\\').Append(kUninstallerFile);
  DeployFile(state, platform, source, state.TargetPath);
  return true;
}

void ActivateLayout(InstallerState& state, Platform& platform) {
  if (!state.Report.empty()) return;
  uintptr_t layout = 0;
  if (!state.InstallFailed &&
      platform.LoadKeyboardLayoutA(state.ValueBuffer, kKlfActivate, &layout) && layout != 0) {
    // Windows 95 rotates its list for a layout it has loaded already and may return another
    // one: then the list tells.
    uintptr_t loaded[64];
    int count = platform.GetKeyboardLayoutList(64, loaded);
    while (count > 0 && !IsHandleOfLayout(layout, state.ValueBuffer)) layout = loaded[--count];
    if (IsHandleOfLayout(layout, state.ValueBuffer)) return;
  }
  state.Report.Append(u"Tavrel输入法").Append(u"未能安装成功！");
}

// Removal.

namespace {

// The path of `name` in `directory`; empty when the directory could not be read: never
// remove from the root of the current drive.
Text PathIn(const Text& directory, const char16_t* name) {
  return directory.empty() ? Text() : Text(directory).Append(u'\\').Append(name);
}

// Removes the file at `path`. Its deletion at the next restart sets RestartNeeded unless
// `running` (the program's own copy, which cannot go before).
void RemoveFile(UninstallerState& state, PlatformRemoval& removal, const Text& path,
                bool running = false) {
  state.TargetPath = path;
  const FileRemoval removed = removal.RemoveFile(state.TargetPath);
  if (removed != FileRemoval::kAbsent) state.Found = true;
  if (removed == FileRemoval::kFailed) state.RemovalFailed = true;
  if (removed == FileRemoval::kAtRestart && !running) state.RestartNeeded = true;
}

}  // namespace

void RemoveFiles(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  DetermineDirectories(state, platform);
  if (state.SystemDir.empty()) {
    state.RemovalFailed = true;  // whether the files are there cannot be known
    return;
  }
  RemoveFile(state, removal, PathIn(state.SystemDir, u"tvl1.IME"));
  RemoveFile(state, removal, PathIn(state.SystemDir, u"tvl1.MB"));
}

void RemoveUninstaller(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  const Text path = PathIn(platform.WindowsDirectory(), kUninstallerFile);
  if (path.empty())
    state.RemovalFailed = true;
  else
    RemoveFile(state, removal, path, /*running=*/true);
}
