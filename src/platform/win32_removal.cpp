// Removal of registry keys, values and files on Windows.
#include "platform/win32_removal.h"

#include "platform/win32_family.h"
#include "platform/win32_file.h"
#include "platform/win32_restart.h"

int32_t Win32Removal::RegDeleteKeyA(RegistryRoot root, const Text& path) {
  return ::RegDeleteKeyA(root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                         Ansi(path).bytes);
}

int32_t Win32Removal::RegDeleteValueA(int32_t handle, const Text& name) {
  return ::RegDeleteValueA(reinterpret_cast<HKEY>(static_cast<intptr_t>(handle)), Ansi(name).bytes);
}

FileRemoval Win32Removal::RemoveFile(const Text& name) {
  const wchar_t* path = WideChars(name);
  // Windows 95 deletes a file that another program has open, or maps as a module; a file
  // nobody has open opens without sharing.
  HANDLE probe = wide::CreateFile(path, GENERIC_READ, /*share=*/0, OPEN_EXISTING);
  const DWORD error = probe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRemoval::kAbsent;
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  const bool in_use = error == ERROR_SHARING_VIOLATION;
  const DWORD attributes = wide::GetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return FileRemoval::kFailed;
  const bool read_only = attributes & FILE_ATTRIBUTE_READONLY;  // not deleted as it is
  if (read_only) wide::SetFileAttributes(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  if (!in_use && wide::DeleteFile(path)) return FileRemoval::kRemoved;

  // Renamed aside to a new name in the same directory, so that an installation before the
  // restart finds the name free (a deletion scheduled under it would take the new file).
  wchar_t aside[MAX_PATH];
  bool renamed = false;
  if (MakeFileBeside(path, aside)) {
    renamed = wide::MoveFileReplacing(path, aside);
    if (!renamed) wide::DeleteFile(aside);
  }
  if (MoveAtRestart(renamed ? aside : path, nullptr)) return FileRemoval::kAtRestart;
  // Nothing scheduled: the file as it was.
  if (renamed) wide::MoveFileReplacing(aside, path);
  if (read_only) wide::SetFileAttributes(path, attributes);
  return FileRemoval::kFailed;
}
