#include "platform/restart_names.h"

namespace {

// The length of `directory` when `path` names something in it (ASCII letters compared
// without regard to case), 0 otherwise.
size_t InDirectory(const Text& path, const Text& directory) {
  const size_t length = directory.size();
  if (length == 0 || path.size() <= length || path[length] != u'\\') return 0;
  for (size_t i = 0; i < length; ++i)
    if (FoldAsciiCase(path[i]) != FoldAsciiCase(directory[i])) return 0;
  return length;
}

}  // namespace

void NameAtRestart(const Text& path, const Text& system_dir, const Text& native_dir, RestartName* restart) {
  restart->native = false;
  size_t end = 0;  // where the part below the directory starts
  if (native_dir.empty()) {
    // 32-bit Windows: no redirection.
  } else if ((end = InDirectory(path, native_dir)) != 0) {
    restart->name = system_dir;
    restart->native = true;
  } else if ((end = InDirectory(path, system_dir)) != 0) {
    // "SysWOW64" beside "system32", below the same Windows directory.
    size_t windows = system_dir.size();
    while (windows > 0 && system_dir[windows - 1] != u'\\') --windows;
    restart->name = u"";
    restart->name.Append(system_dir.data(), windows).Append(u"SysWOW64");
  }
  if (end == 0) restart->name = u"";
  restart->name.Append(path.data() + end, path.size() - end);
}
