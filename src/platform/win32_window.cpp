// The installer window and its message loop on Windows.
#include "platform/win32_family.h"
#include "platform/win32_platform.h"

namespace {

// A resource by number (the program's own, or with no instance the system's): the "...A"
// function loads it on both families.
HANDLE LoadResourceImage(HINSTANCE instance, WORD id, UINT type, int width, int height, UINT flags) {
  return LoadImageA(instance, MAKEINTRESOURCEA(id), type, width, height, flags);
}

const wchar_t kWindowClass[] = L"TavrelSetupWindow";
const UINT kActivateMessage = WM_APP + 1;
const WORD kIconId = 1;
const WORD kArrowCursor = 32512;  // OCR_NORMAL

// The program's one window, whose messages the window procedure hands on. Set before the
// window is created: no message of the window class comes before it.
Win32Platform* the_window_owner = nullptr;
// The window's first client size, also its size during the installation, and the label's
// box, in twips (1440 to the inch).
const int kInitialClientWidth = 9525, kInitialClientHeight = 8205;
const int kLabelLeft = 0, kLabelTop = 7560, kLabelWidth = 6015, kLabelHeight = 615;

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// The screen's dots per inch, read when the window is made. (Zero-initialised: a .data
// section would cost a file section of its own.)
int window_dpi = 0;

// `value` * `numerator` / `denominator` rounded to the nearest integer, a half up, as MulDiv
// rounds: for no negative value and a positive denominator, where the product stays below
// 2^31 (screen sizes and dots per inch are far from it).
int Scaled(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

int Pixels(int twips) { return Scaled(twips, window_dpi, 1440); }

}  // namespace

void GdiObject::Reset(HGDIOBJ object) {
  if (object_) DeleteObject(object_);
  object_ = object;
}

Win32Platform::~Win32Platform() {
  if (canvas_) {
    SelectObject(canvas_, canvas_original_bitmap_);
    SelectObject(canvas_, canvas_original_font_);
    DeleteDC(canvas_);
  }
}

// The window.

bool Win32Platform::CreateMainWindow() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon =
      static_cast<HICON>(LoadResourceImage(instance_, kIconId, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  window_class.hIconSm =
      static_cast<HICON>(LoadResourceImage(instance_, kIconId, IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  window_class.hCursor = static_cast<HCURSOR>(
      LoadResourceImage(nullptr, kArrowCursor, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
  window_class.lpszClassName = kWindowClass;
  if (!wide::RegisterClassEx(&window_class)) return false;

  // Twips follow the screen's dots per inch, as the font's points do.
  window_dpi = ScreenDpi();
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame = {0, 0, Pixels(kInitialClientWidth), Pixels(kInitialClientHeight)};
  AdjustWindowRectEx(&frame, style, /*bMenu=*/FALSE, 0);
  the_window_owner = this;
  window_ = wide::CreateWindow(kWindowClass, WideChars(caption_), style, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr,
                               instance_);
  if (!window_) return false;

  // 26.25 points (2625 / 100 / 72 inches); where the face is missing, the font mapper
  // substitutes one of the same character set, so the Chinese caption still shows.
  font_.Reset(wide::CreateFont(-Scaled(2625, window_dpi, 7200), GB2312_CHARSET, L"黑体"));
  HDC screen = GetDC(window_);
  canvas_ = CreateCompatibleDC(screen);
  ReleaseDC(window_, screen);
  if (!canvas_) return false;
  canvas_original_font_ = SelectObject(canvas_, font_.get());
  ResizeCanvas();

  label_ = wide::CreateWindow(L"STATIC", L"感谢使用Tavrel输入法", WS_CHILD | WS_VISIBLE | SS_LEFT,
                              Pixels(kLabelLeft), Pixels(kLabelTop), Pixels(kLabelWidth),
                              Pixels(kLabelHeight), window_, instance_);
  if (!label_) return false;
  // A message without text: the system passes it on unchanged to any window, so the "...A"
  // function serves both families.
  SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), /*redraw=*/FALSE);
  return true;
}

void Win32Platform::ResizeCanvas() {
  RECT client;
  GetClientRect(window_, &client);
  if (client.right <= 0 || client.bottom <= 0) return;  // minimized: keep the drawing
  HDC screen = GetDC(window_);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(window_, screen);
  if (!bitmap) return;
  HGDIOBJ previous = SelectObject(canvas_, bitmap);
  if (!canvas_original_bitmap_) canvas_original_bitmap_ = previous;
  canvas_bitmap_.Reset(bitmap);  // deletes the bitmap it replaces, now deselected
}

void Win32Platform::Run(WindowEvents& events, bool silent) {
  events_ = &events;
  events.Load();
  if (silent) {
    // Activate unloads the window; the loop below then ends at once.
    events.Activate();
  } else {
    shown_ = true;
    ShowWindow(window_, SW_SHOWMAXIMIZED);
    if (!resized_since_shown_) OnResize();  // the first showing counts as a resize
    UpdateWindow(window_);
    // Activation can reach the window while it is still being shown; the report waits
    // until the backdrop is up. (The program's own message, without text: "...A" on both
    // families, as WM_SETFONT.)
    PostMessageA(window_, kActivateMessage, 0, 0);
  }
  MSG message;
  while (wide::GetMessage(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    wide::DispatchMessage(&message);
  }
}

void Win32Platform::OnResize() {
  resized_since_shown_ = true;
  ResizeCanvas();
  events_->Resize();
  InvalidateRect(window_, nullptr, /*bErase=*/FALSE);
}

LRESULT CALLBACK Win32Platform::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Win32Platform* self = the_window_owner;
  if (!self->window_) self->window_ = window;  // messages sent while it is being created
  return self->HandleMessage(message, wparam, lparam);
}

LRESULT Win32Platform::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (shown_ && events_) OnResize();
      return 0;
    case kActivateMessage:
      if (!activated_) {
        activated_ = true;
        events_->Activate();
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
  return wide::DefWindowProc(window_, message, wparam, lparam);
}

void Win32Platform::SetCaption(const Text& caption) {
  caption_ = caption;
  wide::SetWindowText(window_, WideChars(caption));
}

Text Win32Platform::Caption() { return caption_; }

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
  TextOutW(canvas_, x, y, WideChars(text), static_cast<int>(text.size()));
}

void Win32Platform::MoveLabel(int left, int top) {
  SetWindowPos(label_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32Platform::ScreenHeight() {
  return Scaled(GetSystemMetrics(SM_CYSCREEN), 1440, ScreenDpi());
}

// MessageBoxW and TextOutW work on both families.
void Win32Platform::ShowMessage(const Text& prompt, int32_t style, const Text& title) {
  MessageBoxW(window_, WideChars(prompt), WideChars(title), static_cast<UINT>(style));
}

void Win32Platform::UnloadWindow() { DestroyWindow(window_); }
