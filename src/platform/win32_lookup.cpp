#include "platform/win32_lookup.h"

namespace {

// The longest library name LoadSystemLibrary takes, in characters.
constexpr int kMaxLibraryName = 15;

using MoveFileExWFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);

}  // namespace

FARPROC SystemProcedure(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  return module ? GetProcAddress(module, name) : nullptr;
}

BOOL nt::MoveFileEx(const wchar_t* from, const wchar_t* to, DWORD flags) {
  // Looked up when first needed, and kept.
  static MoveFileExWFunction move_file_ex = nullptr;
  if (!move_file_ex) move_file_ex = KernelFunction<MoveFileExWFunction>("MoveFileExW");
  return move_file_ex && move_file_ex(from, to, flags);
}

HMODULE nt::LoadSystemLibrary(const char* name) {
  wchar_t path[MAX_PATH + 1 + kMaxLibraryName];  // the directory, a backslash and the name
  UINT end = GetSystemDirectoryW(path, MAX_PATH);
  if (end == 0 || end >= MAX_PATH) return nullptr;  // failed, or too long for the buffer
  path[end++] = L'\\';
  for (int i = 0; name[i] && i < kMaxLibraryName; ++i) path[end++] = static_cast<wchar_t>(name[i]);
  path[end] = L'\0';
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
