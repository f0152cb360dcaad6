#include "platform/win32_wow64.h"

#include "platform/win32_family.h"
#include "platform/win32_platform.h"

namespace wow64 {

namespace {

bool asked;                        // IsWow64 has looked
bool under_wow64;                  // 64-bit Windows
uint16_t native_machine;           // IMAGE_FILE_MACHINE_* of the native programs
// "<windows>\system32" as this program names it, and the name of the native system directory
// beside it (below the system's own Windows directory, not a Terminal Server user's private
// one). Empty where the system directory cannot be read.
wchar_t system_dir[MAX_PATH], native_dir[MAX_PATH];

wchar_t Folded(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// The length of `dir` when `path` names something in it (ASCII letters compared without
// regard to case), 0 otherwise.
int InDirectory(const wchar_t* path, const wchar_t* dir) {
  int i = 0;
  for (; dir[i]; ++i)
    if (Folded(path[i]) != Folded(dir[i])) return 0;
  return i > 0 && path[i] == L'\\' ? i : 0;
}

// `dir` (shorter than MAX_PATH), then `rest`, into `out` (MAX_PATH characters); false when
// too long.
bool Joined(const wchar_t* dir, const wchar_t* rest, wchar_t* out) {
  int n = 0;
  for (; *dir; ++dir) out[n++] = *dir;
  for (; *rest; ++rest) {
    if (n == MAX_PATH - 1) return false;
    out[n++] = *rest;
  }
  out[n] = L'\0';
  return true;
}

// Whether this process runs under WoW64, and for which native machine.
void AskWindows() {
  native_machine = kMachineI386;
  if (!IsNtFamily()) return;  // Windows 95/98/Me: 32-bit only
  // Windows 10 1709 on: IsWow64Process returns TRUE on ARM64 too, this one tells them apart.
  auto query2 = KernelFunction<BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*)>("IsWow64Process2");
  USHORT process = 0, native = 0;
  if (query2 && query2(CurrentNtProcess(), &process, &native)) {
    under_wow64 = process != IMAGE_FILE_MACHINE_UNKNOWN;
    native_machine = native;
    return;
  }
  // Before it, only x64 Windows ran x86 programs under WoW64 (Itanium aside).
  BOOL is = FALSE;
  auto query = KernelFunction<BOOL(WINAPI*)(HANDLE, PBOOL)>("IsWow64Process");
  under_wow64 = query && query(CurrentNtProcess(), &is) && is;
  if (under_wow64) native_machine = kMachineAmd64;
}

}  // namespace

bool IsWow64() {
  if (asked) return under_wow64;
  asked = true;
  AskWindows();
  const UINT length = under_wow64 ? GetSystemDirectoryW(system_dir, MAX_PATH) : 0;
  int cut = 0;  // the system directory's last backslash
  for (UINT n = 0; n < length && length < MAX_PATH; ++n)
    if (system_dir[n] == L'\\') cut = static_cast<int>(n);
  // Unread, too long to hold a file name below it, or no directory above it: none.
  if (length >= MAX_PATH - 16 || cut == 0) {
    system_dir[0] = L'\0';
    return under_wow64;
  }
  static const wchar_t kNativeName[] = L"\\Sysnative";
  __builtin_memcpy(native_dir, system_dir, cut * sizeof(wchar_t));
  __builtin_memcpy(native_dir + cut, kNativeName, sizeof kNativeName);
  return under_wow64;
}

Text SystemDirectory() {
  IsWow64();
  return Text(reinterpret_cast<const char16_t*>(system_dir));
}

RedirectionOff::~RedirectionOff() {
  if (!turned_off_) return;
  auto revert = KernelFunction<BOOL(WINAPI*)(PVOID)>("Wow64RevertWow64FsRedirection");
  if (revert) revert(previous_);
}

bool RedirectionOff::TurnOff() {
  auto turn_off = KernelFunction<BOOL(WINAPI*)(PVOID*)>("Wow64DisableWow64FsRedirection");
  turned_off_ = turn_off && turn_off(&previous_);
  return turned_off_;
}

NativeFileAccess::NativeFileAccess(const wchar_t* path, const wchar_t* other) : paths_{path, other} {
  // "Sysnative" is there from Vista (6.0) on.
  if (!IsWow64() || NtMajorVersion() >= 6) return;
  const wchar_t* paths[2] = {paths_[0], paths_[1]};  // as handed on once redirection is off
  for (int i = 0; i < 2 && paths_[i]; ++i) {
    const int end = InDirectory(paths_[i], native_dir);
    if (!end) continue;
    if (!Joined(system_dir, paths_[i] + end, rewritten_[i])) return;
    paths[i] = rewritten_[i];
  }
  if (paths[0] == paths_[0] && paths[1] == paths_[1]) return;  // neither is native
  // Where that fails, the paths stay "Sysnative" and the operations on them fail.
  if (!redirection_.TurnOff()) return;
  paths_[0] = paths[0];
  paths_[1] = paths[1];
}

}  // namespace wow64

Text Win32Platform::NativeSystemDirectory() {
  wow64::IsWow64();
  return Text(reinterpret_cast<const char16_t*>(wow64::native_dir));
}

uint16_t Win32Platform::NativeMachine() {
  wow64::IsWow64();
  return wow64::native_machine;
}
