#pragma once
// The operations the installer asks of the operating system and its windowing layer.
// The installer logic calls nothing else; Win32Platform provides them on Windows and the
// unit tests provide an in-memory stand-in. Registry, system and keyboard operations are the
// Windows "...A" functions: each converts the UTF-16 text it is given to the ANSI code page
// and converts a buffer it fills back whole (zero byte and trailing spaces included), also
// after a failed call. Errors cross this interface as values, never as exceptions.
#include <stdint.h>

#include "platform/text.h"

enum class RegistryRoot { kLocalMachine, kCurrentUser };

constexpr int32_t kRegSz = 1;            // REG_SZ
constexpr int32_t kErrorMoreData = 234;  // ERROR_MORE_DATA: a value too long for the buffer
constexpr uint32_t kKlfActivate = 1;     // KLF_ACTIVATE
constexpr int32_t kMessageInformation = 64;  // MB_ICONINFORMATION | MB_OK

/// Same layout as OSVERSIONINFOA (148 bytes).
struct OsVersionInfo {
  uint32_t size;
  uint32_t major_version;
  uint32_t minor_version;
  uint32_t build_number;
  int32_t platform_id;
  char service_pack[128];
};

/// The installer window's three events, raised by the platform: Load once before the window
/// is first shown, Resize when it is first shown and after every change of its size, and
/// Activate when it first becomes the active window.
class WindowEvents {
 public:
  virtual void Load() = 0;
  virtual void Resize() = 0;
  virtual void Activate() = 0;

 protected:
  ~WindowEvents() = default;
};

/// Outcome of a file presence test; kError when the name or drive cannot be examined.
enum class Presence { kAbsent, kPresent, kError };

class Platform {
 public:
  // Registry. Key paths and value names match without regard to case. Results: 0 for
  // success, a Win32 error code otherwise. Handle 0 reaches no key.

  /// 0 and *handle set when the key exists; nonzero otherwise (*handle then unspecified).
  virtual int32_t RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) = 0;
  /// Creates the key or opens it when present. On failure nonzero and *handle = 0.
  virtual int32_t RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) = 0;
  /// Reads value `name` ("" = default value) into `buffer`, whose ANSI form is the byte
  /// buffer handed to the system; *size is the byte count. *size must not exceed that
  /// buffer (otherwise ERROR_INVALID_PARAMETER and nothing read).
  /// Success: the value's bytes with their zero byte in the buffer, *size = their number.
  /// *size too small: nonzero, *size = size needed, buffer untouched.
  /// Value or key absent, or handle 0: nonzero, *size unchanged. *type is overwritten.
  virtual int32_t RegQueryValueExA(int32_t handle, const Text& name, int32_t* type,
                                   Text* buffer, int32_t* size) = 0;
  /// Stores `data` as REG_SZ: its ANSI bytes plus one zero byte (byte count = ANSI
  /// length + 1). Nothing stored through handle 0.
  virtual int32_t RegSetValueExA(int32_t handle, const Text& name, const Text& data) = 0;
  /// NT family only: RegQueryValueExA and RegSetValueExA with the value in UTF-16, so text
  /// outside the ANSI code page survives. The byte counts are UTF-16 bytes: `buffer` holds
  /// *size / 2 characters or more, and the value is its characters plus one zero character.
  virtual int32_t RegQueryValueExW(int32_t handle, const Text& name, int32_t* type,
                                   Text* buffer, int32_t* size) = 0;
  virtual int32_t RegSetValueExW(int32_t handle, const Text& name, const Text& data) = 0;
  /// Stores `data` as REG_DWORD (RegSetValueExA, 4 bytes). Nothing stored through handle 0.
  virtual int32_t RegSetDwordA(int32_t handle, const Text& name, uint32_t data) = 0;
  /// Reads value `name` into *data: 0 only for a REG_DWORD of 4 bytes; nonzero otherwise
  /// (another type or size included), *data then unspecified.
  virtual int32_t RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) = 0;
  virtual int32_t RegCloseKey(int32_t handle) = 0;

  // System.

  /// Writes the directory and a zero byte into `buffer` (260 spaces on entry) and returns
  /// its length in bytes; 0 on failure; the size needed, writing nothing, when it does not
  /// fit `capacity`.
  virtual int32_t GetSystemDirectoryA(Text* buffer, int32_t capacity) = 0;
  /// The Windows directory shared by all users (GetSystemWindowsDirectory where the system
  /// has it, looked up: Windows 95 lacks it), without trailing backslash except at a drive
  /// root; empty when it cannot be read. Never a user's private Windows directory under
  /// Terminal Services, nor the system directory.
  virtual Text WindowsDirectory() = 0;
  /// Fills `info` (its size field set by the caller); false when the query fails.
  virtual bool GetVersionExA(OsVersionInfo* info) = 0;

  // Keyboard.

  /// False when the function cannot be called at all; otherwise *layout is the loaded
  /// layout's handle, or 0 when loading and activating it failed. Windows 95 may return
  /// another layout's handle for a layout it has loaded already.
  virtual bool LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) = 0;
  /// Writes the handles of the layouts loaded now into `layouts` (room for `capacity`);
  /// returns how many it wrote, 0 on failure.
  virtual int GetKeyboardLayoutList(int capacity, uintptr_t* layouts) = 0;
  /// InstallLayoutOrTip of the system directory's input.dll (Windows 7 on), which adds a
  /// layout to the user's language profile or, with flags 1, removes it; `profile` is
  /// language, colon, layout identifier ("0804:E0200804"). The library is loaded by its full
  /// path, never searched for. False where the library or the function is missing (every
  /// system before Windows 7, and Windows 95, 98 and Me), or when it returned FALSE.
  virtual bool InstallLayoutOrTip(const Text& profile, uint32_t flags) = 0;

  // Files and process. Wide text.

  /// A relative name is resolved against the current directory. Present only for a file
  /// that is not hidden, not a system file and not a directory.
  virtual Presence FileExists(const Text& name) = 0;
  /// Replaces `target` whole by a copy of `source` that is not read-only, or leaves it as it
  /// was and returns false: never a partial copy. No one may write to the source meanwhile.
  /// A target in use as a loaded module may be renamed aside and deleted at the next
  /// restart; a target in use that cannot be replaced now keeps its place, and the complete
  /// copy is scheduled to take it at the next restart, which also returns true.
  /// *at_restart: true when part of the replacement waits for the next restart (the copy
  /// scheduled, or the earlier file renamed aside and scheduled for deletion), else false.
  virtual bool CopyFileOver(const Text& source, const Text& target, bool* at_restart) = 0;
  /// The file's size in bytes; -1 when it cannot be opened or is 2 GiB or more.
  virtual int32_t FileSize(const Text& name) = 0;
  /// True when both files can be read and hold the same bytes.
  virtual bool FilesMatch(const Text& a, const Text& b) = 0;
  /// The running program's directory, without trailing backslash except at a drive root.
  virtual Text ProgramDirectory() = 0;

  /// Waits until no other run of the input method's programs holds their common lock, then
  /// holds it until the process ends; a lock left by a run that was ended counts as free.
  /// Messages sent to the program's windows meanwhile are handled. Where the lock cannot be
  /// made or opened, returns at once.
  virtual void TakeRunLock() = 0;

  // The installer window. Lengths are in the window's drawing unit (pixels).

  virtual void SetCaption(const Text& caption) = 0;
  virtual Text Caption() = 0;
  virtual double ClientWidth() = 0;
  virtual double ClientHeight() = 0;
  /// Fills the rectangle from corner (x1, y1) up to, not including, (x2, y2).
  /// Colours are red + 256 * green + 65536 * blue.
  virtual void PaintRectangle(int x1, int y1, int x2, int y2, int32_t colour) = 0;
  /// Text in the window font, top left corner at (x, y), transparent background.
  virtual void PrintText(int x, int y, const Text& text, int32_t colour) = 0;
  virtual void MoveLabel(int left, int top) = 0;
  /// Screen height in twips (1440 to the inch).
  virtual int ScreenHeight() = 0;
  /// Modal message box; returns when dismissed.
  virtual void ShowMessage(const Text& prompt, int32_t style, const Text& title) = 0;
  /// Destroys the window; the program then ends.
  virtual void UnloadWindow() = 0;

 protected:
  ~Platform() = default;
};

/// Outcome of removing a file; kAtRestart: its name is free, the file itself goes at the
/// next restart.
enum class FileRemoval { kAbsent, kRemoved, kAtRestart, kFailed };

/// What the uninstaller asks of the system beyond Platform: the removal of registry keys,
/// values and files. An interface of its own so that the installer, which removes nothing,
/// does not carry these operations (each program has 24 KiB). Same conventions as Platform.
class PlatformRemoval {
 public:
  /// Deletes the key at `path` (RegDeleteKeyA). On NT a key that has subkeys is not deleted;
  /// Windows 95/98/Me delete them with it. 0 on success; nonzero when the key is absent or
  /// cannot be deleted.
  virtual int32_t RegDeleteKeyA(RegistryRoot root, const Text& path) = 0;
  /// Deletes value `name` of the open key `handle` (RegDeleteValueA). 0 on success; nonzero
  /// when it is absent, cannot be deleted, or the handle is 0.
  virtual int32_t RegDeleteValueA(int32_t handle, const Text& name) = 0;
  /// Deletes the file at the full path `path`. A file in use, or any file that cannot be
  /// deleted now, is renamed aside in its directory where it can be (so that its name is
  /// free at once) and deleted at the next restart, under its own name where the rename
  /// fails: kAtRestart. Windows 95 deletes even an open or mapped file, so a file
  /// that cannot be opened without sharing counts as in use. kAbsent when there is no such
  /// file; kFailed when it stays and nothing is scheduled (it is then as it was).
  virtual FileRemoval RemoveFile(const Text& path) = 0;

 protected:
  ~PlatformRemoval() = default;
};
