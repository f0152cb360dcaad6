#include "platform/win32_family.h"

namespace {

// The NT family's major version; 0 on Windows 95, 98 and Me. Set at start, before any other
// call.
DWORD nt_major_version = 0;

// `length` ANSI bytes into a zero-terminated wide buffer; the length in characters.
int ToWide(const char* bytes, int length, wchar_t* text, int capacity) {
  if (capacity <= 0) return 0;
  // MultiByteToWideChar gives 0 on failure, and fails for no bytes.
  const int count = length > 0 ? MultiByteToWideChar(CP_ACP, 0, bytes, length, text, capacity - 1) : 0;
  text[count] = L'\0';
  return count;
}

// Characters before the terminating zero; 0 for no text (nullptr), which the ...W
// functions accept where a text is optional.
int LengthOf(const wchar_t* text) {
  int length = 0;
  while (text && text[length]) ++length;
  return length;
}

}  // namespace

void SelectPlatformFamily() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT)
    nt_major_version = version.dwMajorVersion;
}

bool IsNtFamily() { return nt_major_version != 0; }

DWORD NtMajorVersion() { return nt_major_version; }

Ansi::Ansi(const wchar_t* text, int characters) {
  // WideCharToMultiByte gives 0 on failure, and fails for no characters.
  length = characters > 0 ? WideCharToMultiByte(CP_ACP, 0, text, characters, bytes, sizeof bytes - 1,
                                                nullptr, nullptr)
                          : 0;
  bytes[length] = '\0';
}

Ansi::Ansi(const wchar_t* text) : Ansi(text, LengthOf(text)) {}

void FromAnsi(const char* bytes, int length, Text* text) {
  wchar_t chars[Text::kCapacity + 1];
  const int count = ToWide(bytes, length, chars, Text::kCapacity + 1);
  *text = u"";
  text->Append(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(count));
}

namespace wide {

ATOM RegisterClassEx(const WNDCLASSEXW* window_class) {
  if (IsNtFamily()) return RegisterClassExW(window_class);
  // The same fields but for the names; no menu by name.
  static_assert(sizeof(WNDCLASSEXA) == sizeof(WNDCLASSEXW), "same layout");
  WNDCLASSEXA ansi;
  __builtin_memcpy(&ansi, window_class, sizeof ansi);
  const Ansi class_name(window_class->lpszClassName);
  ansi.lpszMenuName = nullptr;
  ansi.lpszClassName = class_name.bytes;
  return RegisterClassExA(&ansi);
}

HWND CreateWindow(const wchar_t* class_name, const wchar_t* window_name, DWORD style, int x, int y,
                  int width, int height, HWND parent, HINSTANCE instance) {
  if (IsNtFamily())
    return CreateWindowExW(0, class_name, window_name, style, x, y, width, height, parent,
                           nullptr, instance, nullptr);
  return CreateWindowExA(0, Ansi(class_name).bytes, Ansi(window_name).bytes, style, x, y, width,
                         height, parent, nullptr, instance, nullptr);
}

// The "...A" and "...W" forms of these functions take the same arguments: choose one, call once.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return (IsNtFamily() ? DefWindowProcW : DefWindowProcA)(window, message, wparam, lparam);
}

BOOL GetMessage(MSG* message, HWND window, UINT first, UINT last) {
  return (IsNtFamily() ? GetMessageW : GetMessageA)(message, window, first, last);
}

LRESULT DispatchMessage(const MSG* message) {
  return (IsNtFamily() ? DispatchMessageW : DispatchMessageA)(message);
}

BOOL SetWindowText(HWND window, const wchar_t* text) {
  return IsNtFamily() ? SetWindowTextW(window, text) : SetWindowTextA(window, Ansi(text).bytes);
}

HFONT CreateFont(int height, DWORD charset, const wchar_t* face) {
  if (IsNtFamily())
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     Ansi(face).bytes);
}

HANDLE CreateFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
  if (IsNtFamily())
    return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return CreateFileA(Ansi(path).bytes, access, share & ~DWORD{FILE_SHARE_DELETE}, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD GetFileAttributes(const wchar_t* path) {
  return IsNtFamily() ? GetFileAttributesW(path) : GetFileAttributesA(Ansi(path).bytes);
}

BOOL SetFileAttributes(const wchar_t* path, DWORD attributes) {
  return IsNtFamily() ? SetFileAttributesW(path, attributes)
                      : SetFileAttributesA(Ansi(path).bytes, attributes);
}

BOOL DeleteFile(const wchar_t* path) {
  return IsNtFamily() ? DeleteFileW(path) : DeleteFileA(Ansi(path).bytes);
}

UINT GetTempFileName(const wchar_t* directory, const wchar_t* prefix, wchar_t* path) {
  if (IsNtFamily()) return GetTempFileNameW(directory, prefix, 0, path);
  char bytes[MAX_PATH];
  const UINT unique = GetTempFileNameA(Ansi(directory).bytes, Ansi(prefix).bytes, 0, bytes);
  if (unique != 0 && !MultiByteToWideChar(CP_ACP, 0, bytes, -1, path, MAX_PATH)) return 0;
  return unique;
}

DWORD GetModuleFileName(wchar_t* path, DWORD capacity) {
  if (IsNtFamily()) return GetModuleFileNameW(nullptr, path, capacity);
  // Converted before anyone looks for a backslash: in code page 936 the byte 0x5C can be the
  // second byte of a Chinese character.
  char bytes[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, bytes, sizeof bytes);
  return static_cast<DWORD>(ToWide(bytes, static_cast<int>(length), path, static_cast<int>(capacity)));
}

BOOL MoveFile(const wchar_t* from, const wchar_t* to, bool replace) {
  if (IsNtFamily()) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (replace) flags |= MOVEFILE_REPLACE_EXISTING;
    return nt::MoveFileEx(from, to, flags);
  }
  const Ansi target(to);
  if (replace && !DeleteFileA(target.bytes) && GetLastError() != ERROR_FILE_NOT_FOUND) return FALSE;
  return MoveFileA(Ansi(from).bytes, target.bytes);
}

}  // namespace wide
