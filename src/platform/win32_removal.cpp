// Removal of registry keys and values on Windows.
#include "platform/win32_removal.h"

#include "platform/win32_family.h"

int32_t Win32Removal::RegDeleteKeyA(RegistryRoot root, const Text& path) {
  return ::RegDeleteKeyA(root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                         Ansi(path).bytes);
}

int32_t Win32Removal::RegDeleteValueA(int32_t handle, const Text& name) {
  return ::RegDeleteValueA(reinterpret_cast<HKEY>(static_cast<intptr_t>(handle)), Ansi(name).bytes);
}

void Win32Removal::RegFlushKey(RegistryRoot root) {
  ::RegFlushKey(root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
}
