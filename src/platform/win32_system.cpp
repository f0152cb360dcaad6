// The system, keyboard and file operations on Windows (the registry in win32_registry.cpp).
#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_platform.h"
#include "platform/win32_wow64.h"

namespace {

// Others may read, write and delete a file the program only reads.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

char copy_buffer[65536];

// Copies the bytes of `source` into the existing file `target` and has them written to the
// disk; false unless all arrived. The source is opened sharing reads only, so that no one
// changes it meanwhile.
bool CopyBytes(const wchar_t* source, const wchar_t* target) {
  File from(wide::CreateFile(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  File to(wide::CreateFile(target, GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING));
  if (!from.ok() || !to.ok()) return false;
  for (;;) {
    const long got = from.Read(copy_buffer, sizeof copy_buffer);
    if (got < 0) return false;
    if (got == 0) return to.FlushAndClose();
    if (!to.Write(copy_buffer, static_cast<DWORD>(got))) return false;
  }
}

}  // namespace

// System and keyboard.

int32_t Win32Platform::GetSystemDirectoryA(Text* buffer, int32_t capacity) {
  // The system writes into the buffer's ANSI form, which is then converted back whole.
  Ansi bytes(*buffer);
  if (capacity > bytes.length) capacity = bytes.length;
  const UINT result = ::GetSystemDirectoryA(bytes.bytes, static_cast<UINT>(capacity));
  FromAnsi(bytes.bytes, bytes.length, buffer);
  return static_cast<int32_t>(result);
}

// Under Terminal Services GetWindowsDirectory gives each user a private directory unless
// the program is marked as aware of them; GetSystemWindowsDirectory (NT 4.0 Terminal Server
// Edition on) always gives the shared one. Windows 95/98/Me have no Terminal Services (and
// no such function).
Text Win32Platform::WindowsDirectory() {
  using DirectoryFunction = UINT(WINAPI*)(LPSTR, UINT);
  DirectoryFunction windows_directory = GetWindowsDirectoryA;
  if (IsNtFamily()) {
    if (auto shared = KernelFunction<DirectoryFunction>("GetSystemWindowsDirectoryA"))
      windows_directory = shared;
  }
  char bytes[MAX_PATH];
  const UINT length = windows_directory(bytes, MAX_PATH);
  Text directory;
  // 0 on failure; MAX_PATH or more, writing nothing, for a directory too long for the buffer.
  if (length > 0 && length < MAX_PATH) FromAnsi(bytes, static_cast<int>(length), &directory);
  return directory;
}

bool Win32Platform::GetVersionExA(OsVersionInfo* info) {
  static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOA), "OSVERSIONINFOA layout");
  return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(info)) != FALSE;
}

bool Win32Platform::LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) {
  *layout = reinterpret_cast<uintptr_t>(::LoadKeyboardLayoutA(Ansi(layout_id).bytes, flags));
  return true;
}

int Win32Platform::GetKeyboardLayoutList(int capacity, uintptr_t* layouts) {
  static_assert(sizeof(HKL) == sizeof(uintptr_t), "layout handles");
  return ::GetKeyboardLayoutList(capacity, reinterpret_cast<HKL*>(layouts));
}

// Files and process.

Presence Win32Platform::FileExists(const Text& name) {
  const DWORD attributes = wide::GetFileAttributes(WideChars(name));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Presence::kAbsent
                                                                           : Presence::kError;
  }
  const DWORD excluded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  return (attributes & excluded) ? Presence::kAbsent : Presence::kPresent;
}

// Each file step reaches the native system directory through wow64::NativeFileAccess, which
// on XP x64 turns redirection off around it.

uint32_t Win32Platform::FileAttributes(const Text& path) {
  const wow64::NativeFileAccess access(WideChars(path));
  return wide::GetFileAttributes(access.path());
}

bool Win32Platform::SetFileAttributes(const Text& path, uint32_t attributes) {
  const wow64::NativeFileAccess access(WideChars(path));
  return wide::SetFileAttributes(access.path(), attributes);
}

// Same directory, so same volume and the directory's permissions; the name "tvlXXXX.tmp"
// clashes with nothing already there.
bool Win32Platform::MakeFileBeside(const Text& path, Text* made) {
  size_t cut = path.size();
  while (cut > 0 && path[cut - 1] != u'\\') --cut;
  wchar_t name[MAX_PATH];
  *made = u"";
  made->Append(path.data(), cut);  // the directory
  {
    const wow64::NativeFileAccess access(WideChars(*made));
    if (cut == 0 || !wide::GetTempFileName(access.path(), L"tvl", name)) return false;
  }
  // The name as the caller reaches that directory.
  int start = 0;
  for (int i = 0; name[i]; ++i)
    if (name[i] == L'\\') start = i + 1;
  made->Append(reinterpret_cast<const char16_t*>(name + start));
  return true;
}

bool Win32Platform::CreateNewFile(const Text& path) {
  const wow64::NativeFileAccess access(WideChars(path));
  return File(wide::CreateFile(access.path(), GENERIC_WRITE, /*share=*/0, CREATE_NEW)).ok();
}

bool Win32Platform::CopyFlushed(const Text& source, const Text& target) {
  const wow64::NativeFileAccess access(WideChars(source), WideChars(target));
  return CopyBytes(access.path(), access.other());
}

bool Win32Platform::MoveFile(const Text& from, const Text& to, bool replace) {
  const wow64::NativeFileAccess access(WideChars(from), WideChars(to));
  return wide::MoveFile(access.path(), access.other(), replace);
}

bool Win32Platform::DeleteFile(const Text& path) {
  const wow64::NativeFileAccess access(WideChars(path));
  return wide::DeleteFile(access.path());
}

bool Win32Platform::FileInUse(const Text& path) {
  // NT: an open without delete sharing refuses an open for deletion. Windows 95/98/Me, which
  // lack delete sharing, delete and rename any file: one in use refuses an open sharing nothing.
  const bool nt = IsNtFamily();
  const wow64::NativeFileAccess access(WideChars(path));
  return !File(wide::CreateFile(access.path(), nt ? DELETE : GENERIC_READ, nt ? kShareAll : 0, OPEN_EXISTING))
              .ok() &&
         GetLastError() == ERROR_SHARING_VIOLATION;
}

// The directory is the system directory, as GetSystemDirectoryA gave it, and the names are
// ASCII: the "...A" functions serve both families.
bool Win32Platform::FindLeftover(const Text& directory, int index, Text* path) {
  WIN32_FIND_DATAA data;
  BOOL found;
  {
    Text pattern = directory;
    pattern.Append(u"\\tvl*.tmp");
    const wow64::NativeFileAccess access(WideChars(pattern));
    HANDLE find = FindFirstFileA(Ansi(access.path()).bytes, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    found = TRUE;
    while (found && index-- > 0) found = FindNextFileA(find, &data);
    FindClose(find);
  }
  *path = directory;
  wchar_t name[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, data.cFileName, -1, name, MAX_PATH)) return false;
  path->Append(u'\\').Append(reinterpret_cast<const char16_t*>(name));
  return found;
}

int32_t Win32Platform::FileSize(const Text& name) {
  File file(wide::CreateFile(WideChars(name), GENERIC_READ, kShareAll, OPEN_EXISTING));
  if (!file.ok()) return -1;
  DWORD high = 0;
  const DWORD low = GetFileSize(file.get(), &high);
  // A failure gives INVALID_FILE_SIZE as `low`, beyond the range like any size of 2 GiB or more.
  if (high != 0 || low > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(low);
}

bool Win32Platform::FilesMatch(const Text& a, const Text& b) {
  const wow64::NativeFileAccess access(WideChars(a), WideChars(b));
  File first(wide::CreateFile(access.path(), GENERIC_READ, kShareAll, OPEN_EXISTING));
  File second(wide::CreateFile(access.other(), GENERIC_READ, kShareAll, OPEN_EXISTING));
  if (!first.ok() || !second.ok()) return false;
  static char chunk_a[4096], chunk_b[4096];
  for (;;) {
    const long got_a = first.Read(chunk_a, sizeof chunk_a);
    const long got_b = second.Read(chunk_b, sizeof chunk_b);
    if (got_a < 0 || got_a != got_b || __builtin_memcmp(chunk_a, chunk_b, got_a) != 0) return false;
    if (got_a == 0) return true;
  }
}

Text Win32Platform::ProgramDirectory() {
  wchar_t path[Text::kCapacity + 1];
  DWORD cut = wide::GetModuleFileName(path, Text::kCapacity + 1);
  while (cut > 0 && path[cut - 1] != L'\\') --cut;
  if (cut > 0) --cut;  // drop the backslash before the file name
  if (cut == 2 && path[1] == L':') ++cut;  // a drive root keeps its backslash
  path[cut] = L'\0';
  return Text(reinterpret_cast<const char16_t*>(path));
}
