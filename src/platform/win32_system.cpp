// The registry, system, keyboard and file operations on Windows.
#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_platform.h"
#include "platform/win32_restart.h"

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

HKEY ToHkey(int32_t handle) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(handle)); }
int32_t FromHkey(HKEY key) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(key)); }

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

bool MakeFileBeside(const wchar_t* path, wchar_t* made) {
  wchar_t directory[MAX_PATH];
  int cut = 0;
  for (int i = 0; path[i] && i < MAX_PATH - 1; ++i) {
    directory[i] = path[i];
    if (path[i] == L'\\') cut = i + 1;
  }
  if (cut == 0) return false;
  directory[cut] = L'\0';
  return wide::GetTempFileName(directory, L"tvl", made) != 0;
}

namespace {

// Puts the complete `copy` in the place of the existing `target`, or, where the target is in
// use and cannot be replaced, leaves it as it is and schedules the copy to take its place at
// the next restart. False when neither could be done: the target's name then holds the old
// file (should even renaming it back fail, the NT family gives it back at the restart).
// *at_restart: set when something was scheduled for the restart, untouched otherwise.
bool ReplaceExisting(const wchar_t* copy, const wchar_t* target, bool* at_restart) {
  if (IsNtFamily()) {
    if (wide::MoveFileReplacing(copy, target)) return true;
    // A target open without delete sharing can be neither replaced nor renamed; a module in
    // use can be renamed.
  } else if (!File(wide::CreateFile(target, GENERIC_READ, /*share=*/0, OPEN_EXISTING)).ok()) {
    // Windows 95/98/Me delete and replace a file even while it is open or mapped as a module:
    // one in use is told by a sharing violation when opened sharing nothing. (A File that
    // failed to open closes nothing, so the error is still the open's.)
    return GetLastError() == ERROR_SHARING_VIOLATION && (*at_restart = MoveAtRestart(copy, target));
  }
  wchar_t aside[MAX_PATH];
  if (!MakeFileBeside(target, aside)) return false;
  if (!wide::MoveFileReplacing(target, aside)) {
    const bool in_use = GetLastError() == ERROR_SHARING_VIOLATION;
    wide::DeleteFile(aside);
    return in_use && (*at_restart = MoveAtRestart(copy, target));
  }
  if (!wide::MoveFileReplacing(copy, target)) {
    if (!wide::MoveFileReplacing(aside, target)) MoveAtRestart(aside, target);
    return false;
  }
  // Only now that the target holds the new file may the old one go; a module still mapped
  // cannot be deleted before the restart.
  if (!wide::DeleteFile(aside)) *at_restart = MoveAtRestart(aside, nullptr);
  return true;
}

}  // namespace

// Registry.

int32_t Win32Platform::RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyA(RootKey(root), Ansi(path).bytes, &key);
  *handle = FromHkey(key);
  return result;
}

int32_t Win32Platform::RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  HKEY key = nullptr;
  const LONG result = ::RegCreateKeyA(RootKey(root), Ansi(path).bytes, &key);
  *handle = result == ERROR_SUCCESS ? FromHkey(key) : 0;
  return result;
}

int32_t Win32Platform::RegQueryValueExA(int32_t handle, const Text& name, int32_t* type,
                                        Text* buffer, int32_t* size) {
  Ansi bytes(*buffer);
  if (*size < 0 || *size > bytes.length) return ERROR_INVALID_PARAMETER;
  DWORD value_type = static_cast<DWORD>(*type);
  DWORD count = static_cast<DWORD>(*size);
  const LONG result = ::RegQueryValueExA(ToHkey(handle), Ansi(name).bytes, nullptr, &value_type,
                                         reinterpret_cast<BYTE*>(bytes.bytes), &count);
  *type = static_cast<int32_t>(value_type);
  *size = static_cast<int32_t>(count);
  *buffer = FromAnsi(bytes.bytes, bytes.length);
  return result;
}

int32_t Win32Platform::RegSetValueExA(int32_t handle, const Text& name, const Text& data) {
  Ansi bytes(data);
  return ::RegSetValueExA(ToHkey(handle), Ansi(name).bytes, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(bytes.bytes), bytes.length + 1);
}

int32_t Win32Platform::RegQueryValueExW(int32_t handle, const Text& name, int32_t* type,
                                        Text* buffer, int32_t* size) {
  if (*size < 0 || *size > 2 * static_cast<int32_t>(buffer->size())) return ERROR_INVALID_PARAMETER;
  DWORD value_type = static_cast<DWORD>(*type);
  DWORD count = static_cast<DWORD>(*size);
  // Filled in place: the buffer keeps its length, as the ANSI form is converted back whole.
  const LONG result = ::RegQueryValueExW(ToHkey(handle), WideChars(name), nullptr, &value_type,
                                         reinterpret_cast<BYTE*>(const_cast<char16_t*>(buffer->data())),
                                         &count);
  *type = static_cast<int32_t>(value_type);
  *size = static_cast<int32_t>(count);
  return result;
}

int32_t Win32Platform::RegSetValueExW(int32_t handle, const Text& name, const Text& data) {
  return ::RegSetValueExW(ToHkey(handle), WideChars(name), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(2 * (data.size() + 1)));
}

int32_t Win32Platform::RegSetDwordA(int32_t handle, const Text& name, uint32_t data) {
  const DWORD value = data;
  return ::RegSetValueExA(ToHkey(handle), Ansi(name).bytes, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value);
}

int32_t Win32Platform::RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) {
  static_assert(sizeof(DWORD) == sizeof(uint32_t), "REG_DWORD");
  DWORD type = REG_NONE, count = sizeof *data;
  const LONG result = ::RegQueryValueExA(ToHkey(handle), Ansi(name).bytes, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &count);
  // More than 4 bytes fail with ERROR_MORE_DATA.
  return result != ERROR_SUCCESS ? result : type != REG_DWORD || count != sizeof *data;
}

int32_t Win32Platform::RegCloseKey(int32_t handle) { return ::RegCloseKey(ToHkey(handle)); }

// System and keyboard.

int32_t Win32Platform::GetSystemDirectoryA(Text* buffer, int32_t capacity) {
  Ansi bytes(*buffer);
  if (capacity > bytes.length) capacity = bytes.length;
  const UINT result = ::GetSystemDirectoryA(bytes.bytes, static_cast<UINT>(capacity));
  *buffer = FromAnsi(bytes.bytes, bytes.length);
  return static_cast<int32_t>(result);
}

// Under Terminal Services GetWindowsDirectory gives each user a private directory unless
// the program is marked as aware of them; GetSystemWindowsDirectory (NT 4.0 Terminal Server
// Edition on) always gives the shared one.
Text Win32Platform::WindowsDirectory() {
  char bytes[MAX_PATH];
  // Windows 95/98/Me have no Terminal Services (and no such function).
  auto shared = IsNtFamily() ? KernelFunction<UINT(WINAPI*)(LPSTR, UINT)>("GetSystemWindowsDirectoryA")
                             : nullptr;
  const UINT length = (shared ? shared : GetWindowsDirectoryA)(bytes, MAX_PATH);
  return length < MAX_PATH ? FromAnsi(bytes, static_cast<int>(length)) : Text();
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

// The copy goes to a new file beside the target, is flushed to the disk, and takes the
// target's place only once complete, so a full disk, a read error or a power cut leaves the
// earlier file as it was. The new file is made here, so it is never read-only whatever the
// source's attributes.
bool Win32Platform::CopyFileOver(const Text& source, const Text& target, bool* at_restart) {
  *at_restart = false;
  const wchar_t* target_path = WideChars(target);
  const DWORD attributes = wide::GetFileAttributes(target_path);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

  wchar_t copy[MAX_PATH];
  if (!MakeFileBeside(target_path, copy)) return false;
  if (CopyBytes(WideChars(source), copy)) {
    const bool read_only = exists && (attributes & FILE_ATTRIBUTE_READONLY);
    if (read_only) wide::SetFileAttributes(target_path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (exists ? ReplaceExisting(copy, target_path, at_restart)
               : wide::MoveFileReplacing(copy, target_path))
      return true;
    if (read_only) wide::SetFileAttributes(target_path, attributes);
  }
  wide::DeleteFile(copy);
  return false;
}

int32_t Win32Platform::FileSize(const Text& name) {
  File file(wide::CreateFile(WideChars(name), GENERIC_READ, kShareAll, OPEN_EXISTING));
  const DWORD size = file.ok() ? GetFileSize(file.get(), nullptr) : INVALID_FILE_SIZE;
  return size <= 0x7FFFFFFF ? static_cast<int32_t>(size) : -1;
}

bool Win32Platform::FilesMatch(const Text& a, const Text& b) {
  File first(wide::CreateFile(WideChars(a), GENERIC_READ, kShareAll, OPEN_EXISTING));
  File second(wide::CreateFile(WideChars(b), GENERIC_READ, kShareAll, OPEN_EXISTING));
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
  Text directory;
  for (DWORD i = 0; i < cut; ++i) directory.Append(static_cast<char16_t>(path[i]));
  if (directory.size() == 2 && directory[1] == u':') directory.Append(u'\\');  // drive root
  return directory;
}
