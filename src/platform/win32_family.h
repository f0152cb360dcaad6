#pragma once
// Where the program chooses between the "...A" and "...W" functions of Windows.
//
// Windows 95, 98 and Me implement only a handful of "...W" functions (MessageBoxW, TextOutW,
// MultiByteToWideChar, ...); the rest are stubs that fail. The program decides once, at start,
// which platform family it runs on. From then on every window and file function that takes
// or returns text goes through the `wide` functions below: on the NT family each forwards to
// the "...W" function; on the older family it converts its text to the ANSI code page, calls
// the "...A" function and converts what comes back. Registry, system and keyboard calls are
// the "...A" functions on both families and convert their text with Ansi and FromAnsi.
//
// The layers: the platform operations (win32_system.cpp, win32_registry.cpp,
// win32_window.cpp, ...) call this one; this one calls Windows and the layer below it,
// win32_lookup.h (functions not every Windows has), and never the platform operations. The
// layer below calls Windows only.
#include <windows.h>

#include "platform/text.h"
// Included for the files that call both layers.
#include "platform/win32_lookup.h"

/// Reads the platform family; called once, first thing at program start.
void SelectPlatformFamily();
/// True on the NT family, false on Windows 95, 98 and Me.
bool IsNtFamily();
/// The NT family's major version as GetVersionExA reported it at start (6 from Vista on);
/// 0 on Windows 95, 98 and Me.
DWORD NtMajorVersion();

/// The text as a zero-terminated wide string (it ends at an embedded zero character, as
/// Windows reads it).
inline const wchar_t* WideChars(const Text& text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
  return reinterpret_cast<const wchar_t*>(text.data());
}

/// Text in the ANSI code page, zero-terminated; `length` excludes the terminator. Embedded
/// zero characters are converted too.
struct Ansi {
  explicit Ansi(const Text& text) : Ansi(WideChars(text), static_cast<int>(text.size())) {}
  /// Up to the terminating zero; empty for nullptr.
  explicit Ansi(const wchar_t* text);
  Ansi(const wchar_t* text, int characters);
  char bytes[2 * Text::kCapacity + 1];
  int length;
};

/// Replaces `text` by `length` bytes in the ANSI code page, zero bytes included. (`bytes`
/// may be the ANSI form of `text` itself.)
void FromAnsi(const char* bytes, int length, Text* text);

// <windows.h> maps these names to their "...A" functions; in this program they name the
// functions below.
#undef RegisterClassEx
#undef CreateWindowEx
#undef CreateWindow
#undef DefWindowProc
#undef GetMessage
#undef DispatchMessage
#undef SetWindowText
#undef CreateFont
#undef CreateFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef DeleteFile
#undef GetTempFileName
#undef GetModuleFileName
#undef MoveFile

namespace wide {

// The same arguments and results as the "...W" functions of these names.
ATOM RegisterClassEx(const WNDCLASSEXW* window_class);
/// CreateWindowW with no menu and no creation data.
HWND CreateWindow(const wchar_t* class_name, const wchar_t* window_name, DWORD style, int x, int y,
                  int width, int height, HWND parent, HINSTANCE instance);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL GetMessage(MSG* message, HWND window, UINT first, UINT last);
LRESULT DispatchMessage(const MSG* message);
BOOL SetWindowText(HWND window, const wchar_t* text);
/// CreateFontW of normal weight, everything else but the height, character set and face at
/// its default.
HFONT CreateFont(int height, DWORD charset, const wchar_t* face);
/// FILE_SHARE_DELETE is dropped on the older family, which refuses it.
HANDLE CreateFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition);
DWORD GetFileAttributes(const wchar_t* path);
BOOL SetFileAttributes(const wchar_t* path, DWORD attributes);
BOOL DeleteFile(const wchar_t* path);
/// Creates an empty file of a new name in `directory`; `path` holds MAX_PATH characters.
UINT GetTempFileName(const wchar_t* directory, const wchar_t* prefix, wchar_t* path);
/// The running program's path; the length in characters, 0 on failure.
DWORD GetModuleFileName(wchar_t* path, DWORD capacity);

/// Renames `from` to `to`; with `replace`, replacing a file there. On the NT family one
/// rename (MoveFileExW), carried to the disk before it returns (MOVEFILE_WRITE_THROUGH). The
/// older family has no MoveFileEx, so `to` is deleted first, even while in use, and is lost
/// should the move then fail: there, `to` must be absent or a file of the program's own.
BOOL MoveFile(const wchar_t* from, const wchar_t* to, bool replace);

}  // namespace wide
