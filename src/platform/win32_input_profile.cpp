// The user's language profile, kept by the system from Windows 8 on, through input.dll.
#include "platform/win32_family.h"
#include "platform/win32_platform.h"

// input.dll is taken from the system directory by its full path: the program's folder is
// a download folder, and a library of that name planted there must never be loaded. It stays
// loaded until the process ends: work it may have started for the profile is never left
// running in an unloaded library.
bool Win32Platform::InstallLayoutOrTip(const Text& profile, uint32_t flags) {
  if (!IsNtFamily()) return false;  // Vista and later only
  HMODULE library = nt::LoadSystemLibrary("input.dll");
  if (!library) return false;
  using InstallLayoutOrTipFunction = BOOL(WINAPI*)(const wchar_t*, DWORD);
  const auto install = reinterpret_cast<InstallLayoutOrTipFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "InstallLayoutOrTip")));
  return install && install(WideChars(profile), flags);
}
