#include "platform/win32_platform.h"

#include <string.h>

#include "window/frm_setup.h"

namespace {

const wchar_t kWindowClass[] = L"TavrelSetupWindow";
const UINT kActivateMessage = WM_APP + 1;
// Client area when created, also the size during the installation: 9525 x 8205 twips.
const int kInitialClientWidth = 635;
const int kInitialClientHeight = 547;
const int kAnsiCapacity = 2 * Text::kCapacity + 1;

// Zero-terminated wchar_t copy of a text, for the "...W" functions.
struct Wide {
  explicit Wide(const Text& text) {
    for (size_t i = 0; i <= text.size(); ++i) chars[i] = static_cast<wchar_t>(text.data()[i]);
  }
  wchar_t chars[Text::kCapacity + 1];
};

// The text in the ANSI code page, zero-terminated; `length` excludes the terminator.
struct Ansi {
  explicit Ansi(const Text& text) {
    Wide wide(text);
    length = text.empty() ? 0
                          : WideCharToMultiByte(CP_ACP, 0, wide.chars, static_cast<int>(text.size()),
                                                bytes, kAnsiCapacity - 1, nullptr, nullptr);
    bytes[length] = '\0';
  }
  char bytes[kAnsiCapacity];
  int length;
};

Text FromAnsi(const char* bytes, int length) {
  wchar_t wide[Text::kCapacity];
  const int count = length <= 0 ? 0
                                : MultiByteToWideChar(CP_ACP, 0, bytes, length, wide, Text::kCapacity);
  Text text;
  for (int i = 0; i < count; ++i) text.Append(static_cast<char16_t>(wide[i]));
  return text;
}

Text FromWide(const wchar_t* chars, size_t length) {
  Text text;
  for (size_t i = 0; i < length; ++i) text.Append(static_cast<char16_t>(chars[i]));
  return text;
}

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

HKEY ToHkey(int32_t handle) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(handle)); }
int32_t FromHkey(HKEY key) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(key)); }

// Owner of a file handle.
class File {
 public:
  explicit File(const Text& path)
      : handle_(CreateFileW(Wide(path).chars, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (ok()) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Bytes read into `buffer`, 0 at the end, -1 on error.
  long Read(char* buffer, DWORD capacity) {
    DWORD got = 0;
    return ReadFile(handle_, buffer, capacity, &got, nullptr) ? static_cast<long>(got) : -1;
  }

 private:
  HANDLE handle_;
};

}  // namespace

GdiObject& GdiObject::operator=(GdiObject&& other) noexcept {
  if (this != &other) {
    if (object_) DeleteObject(object_);
    object_ = other.object_;
    other.object_ = nullptr;
  }
  return *this;
}

GdiObject::~GdiObject() {
  if (object_) DeleteObject(object_);
}

Win32Platform::~Win32Platform() {
  if (canvas_) {
    SelectObject(canvas_, canvas_original_bitmap_);
    SelectObject(canvas_, canvas_original_font_);
    DeleteDC(canvas_);
  }
}

// Registry.

int32_t Win32Platform::RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyA(RootKey(root), Ansi(path).bytes, &key);
  *handle = FromHkey(key);
  return result;
}

int32_t Win32Platform::RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  HKEY key = nullptr;
  const LONG result = ::RegCreateKeyA(RootKey(root), Ansi(path).bytes, &key);
  *handle = result == ERROR_SUCCESS ? FromHkey(key) : 0;
  return result;
}

int32_t Win32Platform::RegQueryValueExA(int32_t handle, const Text& name, int32_t* type,
                                        Text* buffer, int32_t* size) {
  Ansi bytes(*buffer);
  if (*size < 0 || *size > bytes.length) return ERROR_INVALID_PARAMETER;
  DWORD value_type = static_cast<DWORD>(*type);
  DWORD count = static_cast<DWORD>(*size);
  const LONG result = ::RegQueryValueExA(ToHkey(handle), Ansi(name).bytes, nullptr, &value_type,
                                         reinterpret_cast<BYTE*>(bytes.bytes), &count);
  *type = static_cast<int32_t>(value_type);
  *size = static_cast<int32_t>(count);
  *buffer = FromAnsi(bytes.bytes, bytes.length);
  return result;
}

int32_t Win32Platform::RegSetValueExA(int32_t handle, const Text& name, const Text& data) {
  Ansi bytes(data);
  return ::RegSetValueExA(ToHkey(handle), Ansi(name).bytes, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(bytes.bytes), bytes.length + 1);
}

int32_t Win32Platform::RegCloseKey(int32_t handle) { return ::RegCloseKey(ToHkey(handle)); }

// System and keyboard.

int32_t Win32Platform::GetSystemDirectoryA(Text* buffer, int32_t capacity) {
  Ansi bytes(*buffer);
  if (capacity > bytes.length) capacity = bytes.length;
  const UINT result = ::GetSystemDirectoryA(bytes.bytes, static_cast<UINT>(capacity));
  *buffer = FromAnsi(bytes.bytes, bytes.length);
  return static_cast<int32_t>(result);
}

bool Win32Platform::GetVersionExA(OsVersionInfo* info) {
  static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOA), "OSVERSIONINFOA layout");
  OSVERSIONINFOA system_info;
  memcpy(&system_info, info, sizeof system_info);
  const BOOL ok = ::GetVersionExA(&system_info);
  memcpy(info, &system_info, sizeof system_info);
  return ok != FALSE;
}

bool Win32Platform::LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) {
  *layout = reinterpret_cast<uintptr_t>(::LoadKeyboardLayoutA(Ansi(layout_id).bytes, flags));
  return true;
}

// Files and process.

Presence Win32Platform::FileExists(const Text& name) {
  const DWORD attributes = GetFileAttributesW(Wide(name).chars);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Presence::kAbsent
                                                                           : Presence::kError;
  }
  const DWORD excluded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  return (attributes & excluded) ? Presence::kAbsent : Presence::kPresent;
}

bool Win32Platform::CopyFileOver(const Text& source, const Text& target) {
  return CopyFileW(Wide(source).chars, Wide(target).chars, /*bFailIfExists=*/FALSE) != FALSE;
}

bool Win32Platform::FilesMatch(const Text& a, const Text& b) {
  File first(a), second(b);
  if (!first.ok() || !second.ok()) return false;
  static char chunk_a[4096], chunk_b[4096];
  for (;;) {
    const long got_a = first.Read(chunk_a, sizeof chunk_a);
    const long got_b = second.Read(chunk_b, sizeof chunk_b);
    if (got_a < 0 || got_a != got_b || memcmp(chunk_a, chunk_b, got_a) != 0) return false;
    if (got_a == 0) return true;
  }
}

Text Win32Platform::ProgramDirectory() {
  wchar_t path[Text::kCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, path, Text::kCapacity);
  DWORD cut = length;
  while (cut > 0 && path[cut - 1] != L'\\') --cut;
  if (cut > 0) --cut;  // drop the backslash before the file name
  Text directory = FromWide(path, cut);
  if (directory.size() == 2 && directory[1] == u':') directory.Append(u'\\');  // drive root
  return directory;
}

// The window.

bool Win32Platform::CreateMainWindow() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  window_class.hIconSm = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&window_class)) return false;

  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame = {0, 0, kInitialClientWidth, kInitialClientHeight};
  AdjustWindowRectEx(&frame, style, /*bMenu=*/FALSE, 0);
  window_ = CreateWindowExW(0, kWindowClass, L"Form1", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance_, this);
  if (!window_) return false;

  HDC screen = GetDC(window_);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  // 26.25 points; where the face is missing, the font mapper substitutes one of the
  // same character set, so the Chinese caption still shows.
  font_ = GdiObject(CreateFontW(-MulDiv(2625, dpi, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"黑体"));
  canvas_ = CreateCompatibleDC(screen);
  ReleaseDC(window_, screen);
  if (!canvas_) return false;
  canvas_original_font_ = SelectObject(canvas_, font_.get());
  ResizeCanvas();

  // 0, 7560 twips; 6015 x 615 twips.
  label_ = CreateWindowExW(0, L"STATIC", L"感谢使用Tavrel输入法", WS_CHILD | WS_VISIBLE | SS_LEFT,
                           0, 504, 401, 41, window_, nullptr, instance_, nullptr);
  if (!label_) return false;
  SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), /*redraw=*/FALSE);
  return true;
}

void Win32Platform::ResizeCanvas() {
  RECT client;
  GetClientRect(window_, &client);
  if (client.right <= 0 || client.bottom <= 0) return;  // minimized: keep the drawing
  HDC screen = GetDC(window_);
  GdiObject bitmap(CreateCompatibleBitmap(screen, client.right, client.bottom));
  ReleaseDC(window_, screen);
  if (!bitmap.get()) return;
  HGDIOBJ previous = SelectObject(canvas_, bitmap.get());
  if (!canvas_original_bitmap_) canvas_original_bitmap_ = previous;
  canvas_bitmap_ = static_cast<GdiObject&&>(bitmap);  // deletes the bitmap it replaces
}

int Win32Platform::Run(FrmSetup& form) {
  form_ = &form;
  form.Load();
  shown_ = true;
  ShowWindow(window_, SW_SHOWMAXIMIZED);
  if (!resized_since_shown_) OnResize();  // the first showing counts as a resize
  UpdateWindow(window_);
  // Activation can reach the window while it is still being shown; the report waits
  // until the backdrop is up.
  PostMessageW(window_, kActivateMessage, 0, 0);
  MSG message = {};  // wParam is the exit status, 0 if GetMessageW fails at once
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32Platform::OnResize() {
  resized_since_shown_ = true;
  ResizeCanvas();
  form_->Resize();
  InvalidateRect(window_, nullptr, /*bErase=*/FALSE);
}

LRESULT CALLBACK Win32Platform::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  if (!self->window_) self->window_ = window;
  return self->HandleMessage(message, wparam, lparam);
}

LRESULT Win32Platform::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (shown_ && form_) OnResize();
      return 0;
    case kActivateMessage:
      if (!activated_) {
        activated_ = true;
        form_->Activate();
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the whole client area is painted from the drawing
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window_, &paint);
      BitBlt(dc, paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right - paint.rcPaint.left,
             paint.rcPaint.bottom - paint.rcPaint.top, canvas_, paint.rcPaint.left,
             paint.rcPaint.top, SRCCOPY);
      EndPaint(window_, &paint);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, RGB(192, 192, 255));
      SetBkColor(dc, RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void Win32Platform::SetCaption(const Text& caption) { SetWindowTextW(window_, Wide(caption).chars); }

Text Win32Platform::Caption() {
  wchar_t chars[Text::kCapacity + 1];
  const int length = GetWindowTextW(window_, chars, Text::kCapacity + 1);
  return FromWide(chars, length > 0 ? static_cast<size_t>(length) : 0);
}

double Win32Platform::ClientWidth() {
  RECT client;
  GetClientRect(window_, &client);
  return client.right;
}

double Win32Platform::ClientHeight() {
  RECT client;
  GetClientRect(window_, &client);
  return client.bottom;
}

void Win32Platform::PaintRectangle(int x1, int y1, int x2, int y2, int32_t colour) {
  RECT rect = {x1, y1, x2, y2};
  GdiObject brush(CreateSolidBrush(static_cast<COLORREF>(colour)));
  FillRect(canvas_, &rect, static_cast<HBRUSH>(brush.get()));
}

void Win32Platform::PrintText(int x, int y, const Text& text, int32_t colour) {
  SetTextColor(canvas_, static_cast<COLORREF>(colour));
  SetBkMode(canvas_, TRANSPARENT);
  TextOutW(canvas_, x, y, Wide(text).chars, static_cast<int>(text.size()));
}

void Win32Platform::MoveLabel(int left, int top) {
  SetWindowPos(label_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32Platform::ScreenHeight() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return MulDiv(GetSystemMetrics(SM_CYSCREEN), 1440, dpi);
}

void Win32Platform::ShowMessage(const Text& prompt, int32_t style, const Text& title) {
  MessageBoxW(window_, Wide(prompt).chars, Wide(title).chars, static_cast<UINT>(style));
}

void Win32Platform::UnloadWindow() { DestroyWindow(window_); }
