// The directories a run works with: the program's folder, where the shipped files are looked
// for and copied from, and the system directory they go into.
#include "deployment/deployment.h"

#include "deployment/installed_files.h"
#include "registration/registry_read.h"

namespace {

constexpr int32_t kSystemDirCapacity = kValueBufferBytes;  // the spaces FillWithSpaces puts there

size_t FirstZero(const Text& text) {
  size_t i = 0;
  while (i < text.size() && text[i] != u'\0') ++i;
  return i;
}

// Each file's name and the report of its absence, in the order of the reports.
struct SourceFile {
  const char* name;
  const char16_t* absence;
};
const SourceFile kSourceFiles[] = {{kModuleName, u"输入法文件未找到！"}, {kTableName, u"码表文件未找到！"}};

}  // namespace

Text DetermineDirectories(InstallerState& state, Platform& platform) {
  FillWithSpaces(state.SystemDir);
  state.SystemDirSize = kSystemDirCapacity;
  state.Status = platform.GetSystemDirectoryA(&state.SystemDir, state.SystemDirSize);
  // 0 is a failure and 260 or more a directory that did not fit: no usable directory.
  const bool usable = state.Status > 0 && state.Status < kSystemDirCapacity;
  // The length is counted in bytes: a directory name with Chinese characters has fewer
  // characters than bytes, and the text then runs on into the terminating zero.
  size_t length = FirstZero(state.SystemDir);
  if (!usable) length = 0;
  if (static_cast<size_t>(state.Status) < length) length = state.Status;
  state.SystemDir = state.SystemDir.Left(length);

  Text source_dir = platform.ProgramDirectory();
  if (source_dir.back() != u'\\') source_dir.Append(u'\\');
  return source_dir;
}

void CheckSourceFiles(InstallerState& state, Platform& platform, const Text& source_dir) {
  for (const SourceFile& file : kSourceFiles)
    if (platform.FileExists(Text(source_dir).Append(file.name)) == Presence::kAbsent) state.Report.Append(file.absence);
}
