// Program start on Windows: creating the program's window starts the installation (or, in
// the uninstaller, the removal). The programs link no C library; the process starts here and
// ends with the outcome as its exit status.
#include <windows.h>

#include "platform/win32_family.h"
#include "platform/win32_platform.h"
#include "window/command_line.h"
#include "window/frm_setup.h"

// The uninstaller (UNINSTALL_BUILD) is the same program with its own run sequence; the
// sign-in program (USER_BUILD) runs the per-user setup entry's command alone.
#include "platform/win32_removal.h"
#ifdef UNINSTALL_BUILD
#include "window/frm_uninstall.h"
#endif
#ifdef USER_BUILD
#include "window/user_part.h"
#endif

namespace {

#ifdef UNINSTALL_BUILD
const wchar_t kNoWindowText[] = L"卸载程序无法创建窗口，卸载未进行。";
const wchar_t kNoWindowTitle[] = L"Tavrel输入法卸载";
#else
const wchar_t kNoWindowText[] = L"安装程序无法创建窗口，安装未进行。";
const wchar_t kNoWindowTitle[] = L"Tavrel输入法安装";
#endif

// The libraries, other than KnownDLLs, that the system loads into a run after it has
// started: uxtheme when the window is made, dwmapi (Vista, 7) with it, and version when the
// input method is loaded. Those missing on a system are passed over.
const char* const kLaterLibraries[] = {"uxtheme.dll", "dwmapi.dll", "version.dll"};

// Loads each of kLaterLibraries from the system directory, so that later loads by name find
// them loaded.
void LoadLaterLibrariesFromSystemDirectory() {
  for (const char* name : kLaterLibraries) nt::LoadSystemLibrary(name);
}

// Activating the layout loads the input method's module into this process, and the module's
// own imports would be looked for in the program's folder first, which is wherever the
// program was downloaded to. Where the system allows it, libraries come from the system
// directory only. Windows 95, 98 and Me have neither function, and older NT versions lack
// one or both. SetDllDirectoryA("") takes only the current folder out of the search: the
// program's folder is still searched first, so the libraries the system loads later are
// loaded now, from the system directory.
void RestrictLibrarySearch() {
  if (!IsNtFamily()) return;
  auto set_default_directories =
      KernelFunction<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
  if (set_default_directories && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  auto set_dll_directory = KernelFunction<BOOL(WINAPI*)(LPCSTR)>("SetDllDirectoryA");
  if (set_dll_directory) set_dll_directory("");
  LoadLaterLibrariesFromSystemDirectory();
}

#ifdef USER_BUILD
// The per-user setup entry's command at a user's sign-in: no window at all, nothing shown.
// Without its switches the program does nothing.
ExitStatus Run(const char* command_line) {
  uint32_t slots = 0;
  const SignInCommand command = AsksForSignInCommand(Text(command_line), &slots);
  if (command == SignInCommand::kNone) return kExitNotRun;
  Win32Platform platform(GetModuleHandleA(nullptr));
  Win32Removal removal;
  return RunSignInCommand(platform, removal, command, slots);
}
#else
// `silent` (/S): no window shown and no message box; the exit status tells the outcome.
ExitStatus RunInstaller(bool silent) {
  Win32Platform platform(GetModuleHandleA(nullptr));
  if (!platform.CreateMainWindow()) {
    if (!silent) MessageBoxW(nullptr, kNoWindowText, kNoWindowTitle, MB_ICONERROR | MB_OK);
    return kExitNotRun;
  }
  Win32Removal removal;
#ifdef UNINSTALL_BUILD
  FrmUninstall form(platform, removal, silent);
#else
  FrmSetup form(platform, removal, silent);
#endif
  platform.Run(form, silent);
  return form.Outcome();
}

ExitStatus Run(const char* command_line) { return RunInstaller(AsksForSilentRun(command_line)); }
#endif

}  // namespace

// The process's entry point. ExitProcess, not a return: returning would end only this
// thread, and a thread started by the input method could keep the process alive.
extern "C" [[noreturn]] void ProgramStart() {
  SelectPlatformFamily();
  RestrictLibrarySearch();
  ExitProcess(static_cast<UINT>(Run(GetCommandLineA())));
}
