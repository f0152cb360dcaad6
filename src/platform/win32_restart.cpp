// The family decides the means, not the character set: the NT family has MoveFileExW for
// this, and Windows 95/98/Me, which lack it, carry out WININIT.INI with their ...A functions.
#include "platform/win32_restart.h"

#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_wow64.h"
#include "platform/wininit_text.h"

namespace {

char wininit[65536];  // WININIT.INI as read, then with the line added

}  // namespace

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
  const UINT end = GetWindowsDirectoryA(path, MAX_PATH);
  if (end - 1 >= MAX_PATH - 1) return false;
  // A drive root ends in a backslash already.
  __builtin_memcpy(path + end - (path[end - 1] == '\\'), "\\WININIT.INI", 13);
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
