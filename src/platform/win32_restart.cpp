// The family decides the means, not the character set: the NT family has MoveFileExW for
// this, and Windows 95/98/Me, which lack it, carry out WININIT.INI with their ...A functions.
#include "platform/win32_restart.h"

#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_platform.h"
#include "platform/win32_wow64.h"
#include "platform/wininit_text.h"

namespace {

char wininit[65536];  // WININIT.INI as read, then with the line added
wchar_t pending[32768];  // the operations pending at the restart, as text

// The path of WININIT.INI in the Windows directory into `path` (MAX_PATH + 12 bytes); false
// when it is too long. Flushes the system's cache of the file first: a pending edit of
// another program is written before this one reads it, and not after, over it.
bool WininitPath(char* path) {
  const UINT end = GetWindowsDirectoryA(path, MAX_PATH);
  if (end - 1 >= MAX_PATH - 1) return false;
  // A drive root ends in a backslash already.
  __builtin_memcpy(path + end - (path[end - 1] == '\\'), "\\WININIT.INI", 13);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
  return true;
}

}  // namespace

bool Win32Platform::PendingAtRestart(const Text& path) {
  size_t start = path.size();
  while (start > 0 && path[start - 1] != u'\\') --start;
  int length;
  if (IsNtFamily()) {
    HKEY key;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", &key) !=
        ERROR_SUCCESS)
      return false;
    DWORD size = sizeof pending;
    const LONG result = ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(pending), &size);
    ::RegCloseKey(key);
    if (result == ERROR_MORE_DATA) return true;  // too many to read: the file may be named
    if (result != ERROR_SUCCESS) return false;
    length = static_cast<int>(size / 2);
  } else {
    char ini_path[MAX_PATH + 12];
    if (!WininitPath(ini_path)) return false;
    File ini(CreateFileA(ini_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
    const long read = ini.Read(wininit, sizeof wininit);
    if (read <= 0) return false;
    length = MultiByteToWideChar(CP_ACP, 0, wininit, static_cast<int>(read), pending, 32768);
  }
  return NamesFile(reinterpret_cast<const char16_t*>(pending), length, path.data() + start,
                   static_cast<int>(path.size() - start));
}

bool MoveAtRestart(const wchar_t* from, const wchar_t* to) {
  if (IsNtFamily()) {
    // Stored as the native process that carries them out at the restart must read them.
    wchar_t boot_from[MAX_PATH], boot_to[MAX_PATH];
    if (!wow64::BootPath(from, boot_from) || (to && !wow64::BootPath(to, boot_to))) return false;
    return nt::MoveFileEx(boot_from, to ? boot_to : nullptr,
                          to ? MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING
                             : MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  }
  // "<to>=<from>", or "NUL=<from>" for a deletion, in 8.3 names.
  char line[2 * MAX_PATH + 2];
  int length = 0;
  const wchar_t* const names[] = {to, from};
  for (const wchar_t* name : names) {
    DWORD got = 3;
    if (name)
      got = GetShortPathNameA(Ansi(name).bytes, line + length, MAX_PATH);
    else
      __builtin_memcpy(line, "NUL", 3);
    if (got - 1 >= MAX_PATH - 1) return false;  // 0 on failure, MAX_PATH or more: too long
    length += static_cast<int>(got);
    line[length++] = '=';
  }
  --length;  // the last '='

  char path[MAX_PATH + 12];
  if (!WininitPath(path)) return false;
  // Opened sharing nothing: no one else edits the file meanwhile. A handle that failed to
  // open fails the read.
  File ini(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  const long read = ini.Read(wininit, sizeof wininit);
  if (read < 0) return false;
  const int total = AddRenameLine(wininit, static_cast<int>(read), sizeof wininit, line, length);
  // The text only grows, so writing it whole from the start leaves nothing of the old behind.
  return total >= 0 && SetFilePointer(ini.get(), 0, nullptr, FILE_BEGIN) == 0 &&
         ini.Write(wininit, static_cast<DWORD>(total)) && ini.FlushAndClose();
}
