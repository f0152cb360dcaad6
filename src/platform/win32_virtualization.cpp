// The process token: UAC virtualization, and the account the process runs as.
//
// A 32-bit program without a manifest that runs without elevation is virtualized: its writes
// into the system directory and under HKLM\Software that the rights do not allow "succeed"
// into the user's VirtualStore. Any process may turn that off for its own token
// (TOKEN_ADJUST_DEFAULT); a write without the rights is then denied, as on XP.
#include "platform/win32_family.h"
#include "platform/win32_platform.h"

namespace {

constexpr int kTokenUser = 1;                    // TOKEN_INFORMATION_CLASS
constexpr int kTokenVirtualizationEnabled = 24;  // the same, Vista on

using OpenProcessTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);

// The running process's token, opened for `access`; nullptr where the system has no tokens
// (Windows 95, 98 and Me lack the function) or it cannot be opened.
HANDLE OpenOwnToken(DWORD access) {
  const auto open = SystemFunction<OpenProcessTokenFunction>("advapi32.dll", "OpenProcessToken");
  HANDLE token = nullptr;
  if (!IsNtFamily() || !open || !open(CurrentNtProcess(), access, &token)) return nullptr;
  return token;
}

}  // namespace

// Both functions are looked up: Windows 95 has neither.
bool Win32Platform::TurnOffVirtualization() {
  const auto set = SystemFunction<BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD)>("advapi32.dll", "SetTokenInformation");
  const HANDLE token = set ? OpenOwnToken(TOKEN_ADJUST_DEFAULT) : nullptr;
  if (!token) return false;
  DWORD enabled = 0;
  const BOOL done = set(token, kTokenVirtualizationEnabled, &enabled, sizeof enabled);
  CloseHandle(token);
  return done != FALSE;
}

// The token's user compared with the system account's SID byte by byte: revision 1, one
// sub-authority, the NT authority (5), sub-authority 18 (SECURITY_LOCAL_SYSTEM_RID).
bool Win32Platform::RunsAsSystemAccount() {
  const auto query =
      SystemFunction<BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD, PDWORD)>("advapi32.dll", "GetTokenInformation");
  const HANDLE token = query ? OpenOwnToken(TOKEN_QUERY) : nullptr;
  if (!token) return false;
  DWORD user[64];  // a TOKEN_USER and the SID it points to, DWORD-aligned
  DWORD size = 0;
  const BOOL read = query(token, kTokenUser, user, sizeof user, &size);
  CloseHandle(token);
  if (!read) return false;
  static const BYTE kLocalSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
  const BYTE* sid = static_cast<const BYTE*>(reinterpret_cast<const TOKEN_USER*>(user)->User.Sid);
  for (size_t i = 0; i < sizeof kLocalSystem; ++i)
    if (sid[i] != kLocalSystem[i]) return false;
  return true;
}
