#include "platform/win32_family.h"

namespace {

bool nt_family = false;  // set at start, before any other call

using MoveFileExWFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
MoveFileExWFunction move_file_ex = nullptr;

// `length` ANSI bytes into a zero-terminated wide buffer; the length in characters.
int ToWide(const char* bytes, int length, wchar_t* text, int capacity) {
  if (capacity <= 0) return 0;
  int count = length > 0 ? MultiByteToWideChar(CP_ACP, 0, bytes, length, text, capacity - 1) : 0;
  if (count < 0) count = 0;
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
  nt_family = (GetVersion() & 0x80000000u) == 0;
}

bool IsNtFamily() { return nt_family; }

Ansi::Ansi(const wchar_t* text, int characters) {
  length = characters <= 0 ? 0
                           : WideCharToMultiByte(CP_ACP, 0, text, characters, bytes, sizeof bytes - 1,
                                                 nullptr, nullptr);
  if (length < 0) length = 0;
  bytes[length] = '\0';
}

Ansi::Ansi(const wchar_t* text) : Ansi(text, LengthOf(text)) {}

Text FromAnsi(const char* bytes, int length) {
  wchar_t text[Text::kCapacity + 1];
  const int count = ToWide(bytes, length, text, Text::kCapacity + 1);
  Text result;
  for (int i = 0; i < count; ++i) result.Append(static_cast<char16_t>(text[i]));
  return result;
}

namespace wide {

ATOM RegisterClassEx(const WNDCLASSEXW* window_class) {
  if (nt_family) return RegisterClassExW(window_class);
  const Ansi class_name(window_class->lpszClassName);
  WNDCLASSEXA ansi;
  ansi.cbSize = sizeof ansi;
  ansi.style = window_class->style;
  ansi.lpfnWndProc = window_class->lpfnWndProc;
  ansi.cbClsExtra = window_class->cbClsExtra;
  ansi.cbWndExtra = window_class->cbWndExtra;
  ansi.hInstance = window_class->hInstance;
  ansi.hIcon = window_class->hIcon;
  ansi.hCursor = window_class->hCursor;
  ansi.hbrBackground = window_class->hbrBackground;
  ansi.lpszMenuName = nullptr;
  ansi.lpszClassName = class_name.bytes;
  ansi.hIconSm = window_class->hIconSm;
  return RegisterClassExA(&ansi);
}

HWND CreateWindowEx(DWORD ex_style, const wchar_t* class_name, const wchar_t* window_name,
                    DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                    HINSTANCE instance, void* param) {
  if (nt_family)
    return CreateWindowExW(ex_style, class_name, window_name, style, x, y, width, height, parent,
                           menu, instance, param);
  return CreateWindowExA(ex_style, Ansi(class_name).bytes, Ansi(window_name).bytes, style, x,
                         y, width, height, parent, menu, instance, param);
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return nt_family ? DefWindowProcW(window, message, wparam, lparam)
                   : DefWindowProcA(window, message, wparam, lparam);
}

BOOL GetMessage(MSG* message, HWND window, UINT first, UINT last) {
  return nt_family ? GetMessageW(message, window, first, last)
                   : GetMessageA(message, window, first, last);
}

LRESULT DispatchMessage(const MSG* message) {
  return nt_family ? DispatchMessageW(message) : DispatchMessageA(message);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return nt_family ? PostMessageW(window, message, wparam, lparam)
                   : PostMessageA(window, message, wparam, lparam);
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return nt_family ? SendMessageW(window, message, wparam, lparam)
                   : SendMessageA(window, message, wparam, lparam);
}

BOOL SetWindowText(HWND window, const wchar_t* text) {
  return nt_family ? SetWindowTextW(window, text) : SetWindowTextA(window, Ansi(text).bytes);
}

HANDLE LoadImage(HINSTANCE instance, WORD id, UINT type, int width, int height, UINT flags) {
  return nt_family ? LoadImageW(instance, MAKEINTRESOURCEW(id), type, width, height, flags)
                   : LoadImageA(instance, MAKEINTRESOURCEA(id), type, width, height, flags);
}

HFONT CreateFont(int height, int width, int escapement, int orientation, int weight,
                 DWORD italic, DWORD underline, DWORD strike_out, DWORD charset,
                 DWORD out_precision, DWORD clip_precision, DWORD quality, DWORD pitch_and_family,
                 const wchar_t* face) {
  if (nt_family)
    return CreateFontW(height, width, escapement, orientation, weight, italic, underline,
                       strike_out, charset, out_precision, clip_precision, quality,
                       pitch_and_family, face);
  return CreateFontA(height, width, escapement, orientation, weight, italic, underline, strike_out,
                     charset, out_precision, clip_precision, quality, pitch_and_family,
                     Ansi(face).bytes);
}

HANDLE CreateFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
  if (nt_family)
    return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return CreateFileA(Ansi(path).bytes, access, share & ~DWORD{FILE_SHARE_DELETE}, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD GetFileAttributes(const wchar_t* path) {
  return nt_family ? GetFileAttributesW(path) : GetFileAttributesA(Ansi(path).bytes);
}

BOOL SetFileAttributes(const wchar_t* path, DWORD attributes) {
  return nt_family ? SetFileAttributesW(path, attributes)
                   : SetFileAttributesA(Ansi(path).bytes, attributes);
}

BOOL DeleteFile(const wchar_t* path) {
  return nt_family ? DeleteFileW(path) : DeleteFileA(Ansi(path).bytes);
}

UINT GetTempFileName(const wchar_t* directory, const wchar_t* prefix, wchar_t* path) {
  if (nt_family) return GetTempFileNameW(directory, prefix, 0, path);
  char bytes[MAX_PATH];
  const UINT unique = GetTempFileNameA(Ansi(directory).bytes, Ansi(prefix).bytes, 0, bytes);
  if (unique != 0 && !MultiByteToWideChar(CP_ACP, 0, bytes, -1, path, MAX_PATH)) return 0;
  return unique;
}

DWORD GetModuleFileName(wchar_t* path, DWORD capacity) {
  if (nt_family) return GetModuleFileNameW(nullptr, path, capacity);
  // Converted before anyone looks for a backslash: in code page 936 the byte 0x5C can be the
  // second byte of a Chinese character.
  char bytes[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, bytes, sizeof bytes);
  return static_cast<DWORD>(ToWide(bytes, static_cast<int>(length), path, static_cast<int>(capacity)));
}

BOOL MoveFileReplacing(const wchar_t* from, const wchar_t* to) {
  if (nt_family) return nt::MoveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  const Ansi target(to);
  if (!DeleteFileA(target.bytes) && GetLastError() != ERROR_FILE_NOT_FOUND) return FALSE;
  return MoveFileA(Ansi(from).bytes, target.bytes);
}

}  // namespace wide

BOOL nt::MoveFileEx(const wchar_t* from, const wchar_t* to, DWORD flags) {
  if (!move_file_ex) move_file_ex = KernelFunction<MoveFileExWFunction>("MoveFileExW");
  if (!move_file_ex) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  return move_file_ex(from, to, flags);
}
