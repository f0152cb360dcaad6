// The family decides the means, not the character set: the NT family has MoveFileExW for
// this, and Windows 95/98/Me, which lack it, carry out WININIT.INI with their ...A functions.
#include "platform/win32_restart.h"

#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/wininit_text.h"

namespace {

char wininit[65536];  // WININIT.INI as read, then with the line added

// The 8.3 form of an existing file's path at `out` (MAX_PATH bytes); its length, 0 on failure.
int ShortPath(const wchar_t* path, char* out) {
  const DWORD length = GetShortPathNameA(Ansi(path).bytes, out, MAX_PATH);
  return length < MAX_PATH ? static_cast<int>(length) : 0;
}

}  // namespace

bool MoveAtRestart(const wchar_t* from, const wchar_t* to) {
  if (IsNtFamily())
    return nt::MoveFileEx(from, to, to ? MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING
                                       : MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  char line[2 * MAX_PATH + 1] = "NUL";
  int length = to ? ShortPath(to, line) : 3;
  if (length == 0) return false;
  line[length++] = '=';
  const int source = ShortPath(from, line + length);
  if (source == 0) return false;
  length += source;

  char path[MAX_PATH + 13];
  UINT end = GetWindowsDirectoryA(path, MAX_PATH);
  if (end == 0 || end >= MAX_PATH) return false;
  const char* name = path[end - 1] == '\\' ? "WININIT.INI" : "\\WININIT.INI";
  while ((path[end++] = *name++)) {
  }
  // Opened sharing nothing: no one else edits the file meanwhile.
  File ini(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  const long read = ini.ok() ? ini.Read(wininit, sizeof wininit) : -1;
  if (read < 0) return false;
  const int total = AddRenameLine(wininit, static_cast<int>(read), sizeof wininit, line, length);
  // The text only grows, so writing it whole from the start leaves nothing of the old behind.
  return total >= 0 && SetFilePointer(ini.get(), 0, nullptr, FILE_BEGIN) == 0 &&
         ini.Write(wininit, static_cast<DWORD>(total)) && ini.FlushAndClose();
}
