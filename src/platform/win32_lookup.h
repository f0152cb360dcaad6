#pragma once
// Functions of Windows that not every version has, and the loading of system libraries.
//
// The layer below the family choice (win32_family.h): it calls Windows only, never the family
// choice nor the platform operations, so the family's wrappers and every other file can call it.
// A function missing on some system is never imported (a missing import stops the program
// from starting at all): it is looked up by name in a library the program imports from.
#include <windows.h>

#include <stdint.h>

/// The NT family's pseudo-handle of the running process, the value GetCurrentProcess returns
/// there (Windows 95, 98 and Me use another): for the NT family only.
inline HANDLE CurrentNtProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

/// A function of the loaded system library `library` (one the program imports from) that not
/// every Windows version has, looked up by name; nullptr where it is missing.
FARPROC SystemProcedure(const char* library, const char* name);
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(SystemProcedure(library, name)));
}
/// SystemFunction of kernel32.
template <typename Function>
Function KernelFunction(const char* name) {
  return SystemFunction<Function>("kernel32.dll", name);
}

// <windows.h> maps this name to MoveFileExA; in this program it names the function below,
// which calls MoveFileExW.
#undef MoveFileEx

namespace nt {

/// MoveFileExW, for the NT family only: Windows 95 lacks it, so it is looked up, never
/// imported. FALSE where it was not found (the last error then tells nothing).
BOOL MoveFileEx(const wchar_t* from, const wchar_t* to, DWORD flags);

/// Loads the library `name` (ASCII) from the system directory by its full path, never by a
/// search that could take a copy from the program's folder; its own imports are looked for
/// in the system directory too. nullptr where it is missing.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace nt
