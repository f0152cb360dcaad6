// The registry on Windows: keys opened and created, values read and written (Win32Platform),
// and the keys and values removed again (Win32Removal), with the same conversions. The
// "...A" functions on both families, their text in the ANSI code page; the "...W" value
// functions for the NT family only.
#include "platform/win32_family.h"
#include "platform/win32_platform.h"
#include "platform/win32_removal.h"

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The platform's key handles are the system's, held in 32 bits (as the system's registry
// handles are numbers below 2^31 also on 64-bit Windows).
HKEY ToHkey(int32_t handle) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(handle)); }
int32_t FromHkey(HKEY key) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(key)); }

// ::RegOpenKeyA or ::RegCreateKeyA as `open`; *handle is the key, 0 on failure.
int32_t OpenKey(LONG(WINAPI* open)(HKEY, LPCSTR, PHKEY), RegistryRoot root, const Text& path,
                int32_t* handle) {
  HKEY key = nullptr;
  const LONG result = open(RootKey(root), Ansi(path).bytes, &key);
  *handle = result == ERROR_SUCCESS ? FromHkey(key) : 0;
  return result;
}

// ::RegQueryValueExA and ::RegSetValueExA of the value `name` under the key `handle`.
LONG QueryValue(int32_t handle, const Text& name, DWORD* type, void* data, DWORD* count) {
  return ::RegQueryValueExA(ToHkey(handle), Ansi(name).bytes, nullptr, type,
                            static_cast<BYTE*>(data), count);
}
LONG SetValue(int32_t handle, const Text& name, DWORD type, const void* data, DWORD size) {
  return ::RegSetValueExA(ToHkey(handle), Ansi(name).bytes, 0, type, static_cast<const BYTE*>(data),
                          size);
}

}  // namespace

// Keys.

int32_t Win32Platform::RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  return OpenKey(::RegOpenKeyA, root, path, handle);
}

int32_t Win32Platform::RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  return OpenKey(::RegCreateKeyA, root, path, handle);
}

int32_t Win32Platform::RegCloseKey(int32_t handle) { return ::RegCloseKey(ToHkey(handle)); }

int32_t Win32Removal::RegDeleteKeyA(RegistryRoot root, const Text& path) {
  return ::RegDeleteKeyA(RootKey(root), Ansi(path).bytes);
}

void Win32Removal::RegFlushKey(RegistryRoot root) { ::RegFlushKey(RootKey(root)); }

// Text values.

int32_t Win32Platform::RegQueryValueExA(int32_t handle, const Text& name, int32_t* type,
                                        Text* buffer, int32_t* size) {
  // The system reads into the buffer's ANSI form, which is then converted back whole: the
  // bytes beyond those read come back as they went in.
  Ansi bytes(*buffer);
  if (*size < 0 || *size > bytes.length) return ERROR_INVALID_PARAMETER;
  DWORD value_type = static_cast<DWORD>(*type);
  DWORD count = static_cast<DWORD>(*size);
  const LONG result = QueryValue(handle, name, &value_type, bytes.bytes, &count);
  *type = static_cast<int32_t>(value_type);
  *size = static_cast<int32_t>(count);
  FromAnsi(bytes.bytes, bytes.length, buffer);
  return result;
}

int32_t Win32Platform::RegSetValueExA(int32_t handle, const Text& name, const Text& data) {
  const Ansi bytes(data);
  const DWORD with_zero_byte = static_cast<DWORD>(bytes.length) + 1;
  return SetValue(handle, name, REG_SZ, bytes.bytes, with_zero_byte);
}

int32_t Win32Platform::RegQueryValueExW(int32_t handle, const Text& name, int32_t* type,
                                        Text* buffer, int32_t* size) {
  const int32_t buffer_bytes = 2 * static_cast<int32_t>(buffer->size());
  if (*size < 0 || *size > buffer_bytes) return ERROR_INVALID_PARAMETER;
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
  const DWORD with_zero_character = static_cast<DWORD>(2 * (data.size() + 1));
  return ::RegSetValueExW(ToHkey(handle), WideChars(name), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.data()), with_zero_character);
}

int32_t Win32Removal::RegDeleteValueA(int32_t handle, const Text& name) {
  return ::RegDeleteValueA(ToHkey(handle), Ansi(name).bytes);
}

// Numbers.

int32_t Win32Platform::RegSetDwordA(int32_t handle, const Text& name, uint32_t data) {
  const DWORD value = data;
  return SetValue(handle, name, REG_DWORD, &value, sizeof value);
}

int32_t Win32Platform::RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) {
  static_assert(sizeof(DWORD) == sizeof(uint32_t), "REG_DWORD");
  DWORD type = REG_NONE, count = sizeof *data;
  // A value of more than 4 bytes fails here with ERROR_MORE_DATA.
  const LONG result = QueryValue(handle, name, &type, data, &count);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_DWORD || count != sizeof *data) return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}
