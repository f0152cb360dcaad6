// File moves and deletions carried out when Windows next starts, for files in use now, and
// the test whether one is pending. The family decides the means, not the character set: the
// NT family has MoveFileExW for this (the names pending in the registry), and Windows 95/98/Me,
// which lack it, carry out the [rename] section of WININIT.INI, edited with their ...A functions.
#include "platform/restart_names.h"
#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_platform.h"
#include "platform/win32_wow64.h"
#include "platform/wininit_text.h"

namespace {

char wininit[65536];  // WININIT.INI as read, then with the line added
// NT's two lists of pending operations as text, one in each half; WININIT.INI in the whole.
constexpr int kListCapacity = 16384;
wchar_t pending[2 * kListCapacity];
// The names a scheduled operation is stored under (a Text is 1 KiB: kept off the stack).
RestartName source_name, target_name;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// Where Windows keeps the pending operations, the second when the first is full.
const wchar_t* const kListNames[2] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// The path of the file `name` (at most 11 characters) in the Windows directory into `path`
// (MAX_PATH + 12 bytes); false when it cannot be read.
bool InWindowsDirectory(const char* name, char* path) {
  const UINT length = GetWindowsDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  // A drive root ends in a backslash already.
  UINT end = path[length - 1] == '\\' ? length - 1 : length;
  path[end++] = '\\';
  for (; *name; ++name) path[end++] = *name;
  path[end] = '\0';
  return true;
}

// The path of WININIT.INI into `path`, as InWindowsDirectory. Flushes the system's cache of
// the file first: a pending edit of another program is written before this one reads it, and
// not after, over it.
bool WininitPath(char* path) {
  if (!InWindowsDirectory("WININIT.INI", path)) return false;
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
  return true;
}

// Reads WININIT.INI at `path` into `wininit`: its length, 0 when there is no such file, -1
// when it cannot be read whole.
long ReadWininit(const char* path) {
  File ini(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ini.ok()) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
  const long read = ini.Read(wininit, sizeof wininit);
  return read == static_cast<long>(sizeof wininit) ? -1 : read;  // a full buffer: there may be more
}

// Appends the 8.3 form of `path` to `line` at *length (MAX_PATH bytes free there); false
// when there is none (no such file) or it does not fit.
bool AppendShortName(const wchar_t* path, char* line, int* length) {
  const DWORD got = GetShortPathNameA(Ansi(path).bytes, line + *length, MAX_PATH);
  if (got == 0 || got >= MAX_PATH) return false;
  *length += static_cast<int>(got);
  return true;
}

// "<to>=<from>", or with `to` null "NUL=<from>" (a deletion), in 8.3 names, into `line`
// (2 * MAX_PATH + 2 bytes). Its length; -1 when a name has no 8.3 form or is too long.
int RenameLine(const wchar_t* from, const wchar_t* to, char* line) {
  int length = 0;
  if (!to) {
    __builtin_memcpy(line, "NUL", 3);
    length = 3;
  } else if (!AppendShortName(to, line, &length)) {
    return -1;
  }
  line[length++] = '=';
  return AppendShortName(from, line, &length) ? length : -1;
}

// The name the new text of WININIT.INI is written under, beside it, before it takes the
// file's name. Not a "tvl*.tmp" name: no clean-up of leftovers takes it for a copy.
constexpr char kNewWininit[] = "WININIT.TVL";

// FILETIME as one number of 100-nanosecond units.
uint64_t Ticks(const FILETIME& time) { return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

// True when the file at `path` was last written since Windows last started. (GetTickCount
// wraps after 49.7 days: then an older start is taken, and a file of before it counts as
// older.) FAT keeps times to 2 seconds.
bool WrittenSinceStart(const char* path) {
  File file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME written, now;
  if (!file.ok() || !GetFileTime(file.get(), nullptr, nullptr, &written)) return false;
  GetSystemTimeAsFileTime(&now);
  constexpr uint64_t kTicksPerMillisecond = 10000, kFileTimeGrain = 2000 * kTicksPerMillisecond;
  const uint64_t started = Ticks(now) - GetTickCount() * kTicksPerMillisecond;
  return Ticks(written) + kFileTimeGrain >= started;
}

// Adds `line` to the [rename] section of WININIT.INI. The new text is written whole to
// WININIT.TVL beside it and flushed, and only then takes the file's name, so that a run ended
// meanwhile leaves the earlier file whole. Windows 95/98/Me replace no file in one step: the
// earlier file is deleted first. A run ended between the two steps leaves no WININIT.INI and
// the whole new text in WININIT.TVL, which the next edit puts in place before anything else.
// So that WININIT.TVL is whole whenever WININIT.INI is missing, a missing WININIT.INI is made,
// empty, before WININIT.TVL is written; and only one written since Windows last started is
// taken: at a start Windows carries out WININIT.INI and takes it away, which leaves an older
// WININIT.TVL (of a run ended before it was whole, or before the earlier file was deleted)
// beside no WININIT.INI.
bool AddToWininit(const char* line, int length) {
  char path[MAX_PATH + 12], fresh[MAX_PATH + 12];
  if (!WininitPath(path) || !InWindowsDirectory(kNewWininit, fresh)) return false;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    // An edit ended before its new text took the name: that text is whole; otherwise there
    // is no text yet.
    if (!WrittenSinceStart(fresh) || !MoveFileA(fresh, path)) {
      File made(CreateFileA(path, GENERIC_WRITE, /*dwShareMode=*/0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
      if (!made.FlushAndClose()) return false;
    }
  }
  const long read = ReadWininit(path);
  if (read < 0) return false;
  const int total = AddRenameLine(wininit, static_cast<int>(read), sizeof wininit, line, length);
  if (total < 0) return false;
  File copy(CreateFileA(fresh, GENERIC_WRITE, /*dwShareMode=*/0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
  const bool written = copy.Write(wininit, static_cast<DWORD>(total)) && copy.FlushAndClose();
  copy.Close();
  if (!written) {
    DeleteFileA(fresh);
    return false;
  }
  return DeleteFileA(path) && MoveFileA(fresh, path);
}

// Reads NT's list `name` of the key `key` into `text` (kListCapacity characters) as `list`.
void ReadList(HKEY key, const wchar_t* name, wchar_t* text, PendingList* list) {
  DWORD size = kListCapacity * sizeof(wchar_t);
  const LONG result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  if (result == ERROR_MORE_DATA) list->read = PendingList::Read::kTooLong;
  if (result != ERROR_SUCCESS) return;
  list->read = PendingList::Read::kText;
  list->text = reinterpret_cast<const char16_t*>(text);
  list->length = static_cast<int>(size / sizeof(wchar_t));
}

}  // namespace

bool Win32Platform::MoveAtRestart(const Text& from, const Text& to) {
  if (!IsNtFamily()) {
    char line[2 * MAX_PATH + 2];
    const int length = RenameLine(WideChars(from), to.empty() ? nullptr : WideChars(to), line);
    return length > 0 && AddToWininit(line, length);
  }
  const Text system_dir = wow64::SystemDirectory(), native_dir = NativeSystemDirectory();
  NameAtRestart(from, system_dir, native_dir, &source_name);
  if (!to.empty()) NameAtRestart(to, system_dir, native_dir, &target_name);
  // With redirection off, the names are stored as given on every 64-bit Windows.
  wow64::RedirectionOff redirection;
  if ((source_name.native || (!to.empty() && target_name.native)) && !redirection.TurnOff()) return false;
  return nt::MoveFileEx(WideChars(source_name.name), to.empty() ? nullptr : WideChars(target_name.name),
                        to.empty() ? MOVEFILE_DELAY_UNTIL_REBOOT
                                   : MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Win32Platform::PendingAtRestart(const Text& path) {
  PendingList lists[2];
  Text short_path;  // Windows 95/98/Me: the file's 8.3 form, as WININIT.INI names it
  if (IsNtFamily()) {
    HKEY key;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManager, &key) != ERROR_SUCCESS) return false;
    for (int i = 0; i < 2; ++i) ReadList(key, kListNames[i], pending + i * kListCapacity, &lists[i]);
    ::RegCloseKey(key);
  } else {
    char ini_path[MAX_PATH + 12];
    if (!WininitPath(ini_path)) return false;
    const long read = ReadWininit(ini_path);
    if (read <= 0) return false;
    // A text longer than `pending` counts as too long to read.
    lists[0].length = MultiByteToWideChar(CP_ACP, 0, wininit, static_cast<int>(read), pending, 2 * kListCapacity);
    lists[0].read = lists[0].length > 0 ? PendingList::Read::kText : PendingList::Read::kTooLong;
    lists[0].text = reinterpret_cast<const char16_t*>(pending);
    char short_name[MAX_PATH];
    const DWORD got = GetShortPathNameA(Ansi(path).bytes, short_name, MAX_PATH);
    if (got > 0 && got < MAX_PATH) FromAnsi(short_name, static_cast<int>(got), &short_path);
  }
  return ListsNameFile(lists, 2, path, short_path);
}
