// UAC virtualization. A 32-bit program without a manifest that runs without elevation is
// virtualized: its writes into the system directory and under HKLM\Software that the rights
// do not allow "succeed" into the user's VirtualStore. Any process may turn that off for its
// own token (TOKEN_ADJUST_DEFAULT); a write without the rights is then denied, as on XP.
#include "platform/win32_family.h"
#include "platform/win32_platform.h"

namespace {

constexpr int kTokenVirtualizationEnabled = 24;  // TOKEN_INFORMATION_CLASS, Vista on

}  // namespace

// Both functions are looked up: Windows 95 has neither.
bool Win32Platform::TurnOffVirtualization() {
  const auto open = SystemFunction<BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE)>("advapi32.dll", "OpenProcessToken");
  const auto set = SystemFunction<BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD)>("advapi32.dll", "SetTokenInformation");
  HANDLE token = nullptr;
  if (!open || !set || !open(CurrentNtProcess(), TOKEN_ADJUST_DEFAULT, &token)) return false;
  DWORD enabled = 0;
  const BOOL done = set(token, kTokenVirtualizationEnabled, &enabled, sizeof enabled);
  CloseHandle(token);
  return done != FALSE;
}
