#pragma once
// The platform operations on Windows, and the installer window they draw on. The system
// operations are in win32_system.cpp (the word size of Windows in win32_wow64.cpp), the
// registry in win32_registry.cpp, the user's language profile in win32_input_profile.cpp,
// the window and its message loop in win32_window.cpp.
#include <windows.h>

#include "platform/platform.h"

// Owner of a GDI object; copies would delete it twice.
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(HGDIOBJ object) : object_(object) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() { Reset(nullptr); }
  /// Deletes the object held (it must not be selected into a device context) and takes `object`.
  void Reset(HGDIOBJ object);
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_ = nullptr;
};

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  /// Creates the hidden installer window with its font, label and retained drawing.
  bool CreateMainWindow();
  /// Runs the window's life: Load, show (Resize), Activate, then the message loop until the
  /// window is unloaded. `silent`: the window is never shown; Load, then Activate at once.
  void Run(WindowEvents& events, bool silent);

  int32_t RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) override;
  int32_t RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) override;
  int32_t RegQueryValueExA(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                           int32_t* size) override;
  int32_t RegSetValueExA(int32_t handle, const Text& name, const Text& data) override;
  int32_t RegQueryValueExW(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                           int32_t* size) override;
  int32_t RegSetValueExW(int32_t handle, const Text& name, const Text& data) override;
  int32_t RegSetDwordA(int32_t handle, const Text& name, uint32_t data) override;
  int32_t RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) override;
  int32_t RegCloseKey(int32_t handle) override;
  int32_t GetSystemDirectoryA(Text* buffer, int32_t capacity) override;
  Text WindowsDirectory() override;
  bool GetVersionExA(OsVersionInfo* info) override;
  Text NativeSystemDirectory() override;  // win32_wow64.cpp
  uint16_t NativeMachine() override;       // win32_wow64.cpp
  bool TurnOffVirtualization() override;  // win32_virtualization.cpp
  bool RunsAsSystemAccount() override;    // win32_virtualization.cpp
  bool LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) override;
  int GetKeyboardLayoutList(int capacity, uintptr_t* layouts) override;
  bool InstallLayoutOrTip(const Text& profile, uint32_t flags) override;
  Presence FileExists(const Text& name) override;
  uint32_t FileAttributes(const Text& path) override;
  bool SetFileAttributes(const Text& path, uint32_t attributes) override;
  bool MakeFileBeside(const Text& path, Text* made) override;
  bool CreateNewFile(const Text& path) override;
  bool CopyFlushed(const Text& source, const Text& target) override;
  bool MoveFile(const Text& from, const Text& to, bool replace) override;
  bool DeleteFile(const Text& path) override;
  bool FileInUse(const Text& path) override;
  bool MoveAtRestart(const Text& from, const Text& to) override;  // win32_restart.cpp
  bool PendingAtRestart(const Text& path) override;               // win32_restart.cpp
  bool FindLeftover(const Text& directory, int index, Text* path) override;
  int32_t FileSize(const Text& name) override;
  bool FilesMatch(const Text& a, const Text& b) override;
  Text ProgramDirectory() override;
  void TakeRunLock() override;  // win32_run_lock.cpp
  void SetCaption(const Text& caption) override;
  Text Caption() override;
  double ClientWidth() override;
  double ClientHeight() override;
  void PaintRectangle(int x1, int y1, int x2, int y2, int32_t colour) override;
  void PrintText(int x, int y, const Text& text, int32_t colour) override;
  void MoveLabel(int left, int top) override;
  int ScreenHeight() override;
  void ShowMessage(const Text& prompt, int32_t style, const Text& title) override;
  void UnloadWindow() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void ResizeCanvas();
  void OnResize();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  Text caption_ = u"Form1";  // the window's title, as set last
  WindowEvents* events_ = nullptr;
  GdiObject font_;
  // The retained drawing: everything the program paints goes into this bitmap, and the
  // window is repainted from it whenever part of it is uncovered.
  HDC canvas_ = nullptr;
  GdiObject canvas_bitmap_;
  HGDIOBJ canvas_original_bitmap_ = nullptr;
  HGDIOBJ canvas_original_font_ = nullptr;
  bool shown_ = false;
  bool resized_since_shown_ = false;
  bool activated_ = false;
};
