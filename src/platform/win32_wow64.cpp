#include "platform/win32_wow64.h"

#include "platform/win32_family.h"
#include "platform/win32_platform.h"

namespace wow64 {

namespace {

// 0 not yet asked, 1 32-bit Windows, 2 64-bit Windows (zero-initialized: no data section).
int wow64;
bool redirection_off;  // a NativeFileAccess has turned it off
// "<windows>\system32" as this program names it, and the names of the native and the 32-bit
// system directory beside it (below the system's own Windows directory, not a Terminal Server
// user's private one). Empty where the system directory cannot be read.
wchar_t system_dir[MAX_PATH], native_dir[MAX_PATH], wow64_dir[MAX_PATH];

wchar_t Folded(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// The length of `dir` when `path` names something in it (ASCII letters compared without
// regard to case), 0 otherwise.
int InDirectory(const wchar_t* path, const wchar_t* dir) {
  int i = 0;
  for (; dir[i]; ++i)
    if (Folded(path[i]) != Folded(dir[i])) return 0;
  return i > 0 && path[i] == L'\\' ? i : 0;
}

// `dir`, then `path` from `from` on, into `out` (MAX_PATH characters); false when too long.
bool Rebase(const wchar_t* dir, const wchar_t* path, int from, wchar_t* out) {
  int n = 0;
  for (; dir[n]; ++n) out[n] = dir[n];
  for (path += from; *path; ++path) {
    if (n >= MAX_PATH - 1) return false;
    out[n++] = *path;
  }
  out[n] = L'\0';
  return true;
}

// `system_dir` up to its last backslash, then `name`, into `out`.
void Beside(const wchar_t* name, wchar_t* out) {
  int cut = 0;
  for (int n = 0; (out[n] = system_dir[n]) != L'\0'; ++n)
    if (system_dir[n] == L'\\') cut = n;
  Rebase(name, L"", 0, out + cut);
}

}  // namespace

bool IsWow64() {
  if (!wow64) {
    BOOL is = FALSE;
    auto query = IsNtFamily() ? KernelFunction<BOOL(WINAPI*)(HANDLE, PBOOL)>("IsWow64Process")
                              : nullptr;
    wow64 = query && query(CurrentNtProcess(), &is) && is ? 2 : 1;
    const UINT length = wow64 == 2 ? GetSystemDirectoryW(system_dir, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH - 16) {  // too long to hold a file name below it
      system_dir[0] = L'\0';
    } else {
      Beside(L"\\Sysnative", native_dir);
      Beside(L"\\SysWOW64", wow64_dir);
    }
  }
  return wow64 == 2;
}

}  // namespace wow64

Text Win32Platform::NativeSystemDirectory() {
  wow64::IsWow64();
  return Text(reinterpret_cast<const char16_t*>(wow64::native_dir));
}

namespace wow64 {

NativeFileAccess::NativeFileAccess(const wchar_t* path, const wchar_t* other) : paths_{path, other} {
  // "Sysnative" is there from Vista (6.0) on.
  if (!IsWow64() || NtMajorVersion() >= 6) return;
  const wchar_t* paths[2] = {paths_[0], paths_[1]};  // as handed on once redirection is off
  for (int i = 0; i < 2 && paths_[i]; ++i) {
    const int end = InDirectory(paths_[i], native_dir);
    if (!end) continue;
    if (!Rebase(system_dir, paths_[i], end, rewritten_[i])) return;
    paths[i] = rewritten_[i];
  }
  if (paths[0] == paths_[0] && paths[1] == paths_[1]) return;  // neither is native
  auto turn_off = KernelFunction<BOOL(WINAPI*)(PVOID*)>("Wow64DisableWow64FsRedirection");
  // Where that fails, the paths stay "Sysnative" and the operations on them fail.
  if (!turn_off || !turn_off(&redirection_)) return;
  paths_[0] = paths[0];
  paths_[1] = paths[1];
  redirection_off = turned_off_ = true;
}

NativeFileAccess::~NativeFileAccess() {
  if (!turned_off_) return;
  auto revert = KernelFunction<BOOL(WINAPI*)(PVOID)>("Wow64RevertWow64FsRedirection");
  if (revert) revert(redirection_);
  redirection_off = false;
}

bool BootPath(const wchar_t* path, wchar_t* boot) {
  if (IsWow64() && !redirection_off) {
    if (const int end = InDirectory(path, system_dir)) return Rebase(wow64_dir, path, end, boot);
    if (const int end = InDirectory(path, native_dir)) return Rebase(system_dir, path, end, boot);
  }
  return Rebase(L"", path, 0, boot);
}

}  // namespace wow64
