#include "deployment/deployment.h"

#include "registration/preload_entry.h"

namespace {

constexpr int32_t kSystemDirCapacity = 260;
const char16_t kModule64[] = u"x64\\tvl1.IME";  // the 64-bit module, below the program's folder

size_t FirstZero(const Text& text) {
  size_t i = 0;
  while (i < text.size() && text[i] != u'\0') ++i;
  return i;
}

// Puts a copy of `source` at `target`; one that fails counts only where the target already
// holds the same bytes.
void DeployFile(InstallerState& state, Platform& platform, const Text& source, const Text& target) {
  if (!platform.CopyFileOver(source, target) && !platform.FilesMatch(source, target))
    state.InstallFailed = true;
}

// A presence test that cannot be carried out lets the copy be attempted.
bool Present(Platform& platform, const Text& name) {
  return platform.FileExists(name) != Presence::kAbsent;
}

// Copies source_dir's `name` into the system directory and, given `native`, source_dir's
// `native_source` into that directory under the same name; when the current directory holds
// no `name`, appends `missing_message` to Report instead.
void DeployNamed(InstallerState& state, Platform& platform, const Text& source_dir,
                 const char16_t* name, const char16_t* missing_message, const Text* native,
                 const char16_t* native_source) {
  if (!Present(platform, name)) {
    state.Report.Append(missing_message);
    return;
  }
  if (state.SystemDir.empty()) {
    state.InstallFailed = true;  // never copy into the root of the current drive
    return;
  }
  DeployFile(state, platform, Text(source_dir).Append(name),
             (state.TargetPath = state.SystemDir).Append(u'\\').Append(name));
  if (native)
    DeployFile(state, platform, Text(source_dir).Append(native_source),
               (state.TargetPath = *native).Append(u'\\').Append(name));
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
  // On 64-bit Windows, the native system directory too: each gets the module built for its
  // programs, and the code table.
  const Text native = platform.NativeSystemDirectory();
  if (!native.empty() && !Present(platform, (state.TargetPath = source_dir).Append(kModule64)))
    state.Only32Bit = true;
  const Text* both = native.empty() || state.Only32Bit ? nullptr : &native;
  DeployNamed(state, platform, source_dir, u"tvl1.IME", u"输入法文件未找到！", both, kModule64);
  DeployNamed(state, platform, source_dir, u"tvl1.MB", u"码表文件未找到！", both, u"tvl1.MB");
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
    if (IsHandleOfLayout(layout, state.ValueBuffer) && AddToLanguageProfile(state, platform)) return;
  }
  state.Report.Append(u"Tavrel输入法").Append(u"未能安装成功！");
}

// Removal.

namespace {

void RemoveFile(UninstallerState& state, PlatformRemoval& removal, const Text& directory,
                const char16_t* name) {
  (state.TargetPath = directory).Append(u'\\').Append(name);
  const FileRemoval removed = removal.RemoveFile(state.TargetPath);
  if (removed != FileRemoval::kAbsent) state.Found = true;
  if (removed == FileRemoval::kFailed) state.RemovalFailed = true;
}

void RemoveFilesFrom(UninstallerState& state, PlatformRemoval& removal, const Text& directory) {
  if (directory.empty()) return;
  RemoveFile(state, removal, directory, u"tvl1.IME");
  RemoveFile(state, removal, directory, u"tvl1.MB");
}

}  // namespace

void RemoveFiles(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  DetermineDirectories(state, platform);
  // Whether the files are in the system directory cannot be known without it.
  if (state.SystemDir.empty()) state.RemovalFailed = true;
  RemoveFilesFrom(state, removal, state.SystemDir);
  RemoveFilesFrom(state, removal, platform.NativeSystemDirectory());
}
