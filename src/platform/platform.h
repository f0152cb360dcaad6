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
constexpr int32_t kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND: no such key or value
constexpr int32_t kErrorMoreData = 234;  // ERROR_MORE_DATA: a value too long for the buffer
constexpr uint32_t kKlfActivate = 1;     // KLF_ACTIVATE
constexpr int32_t kMessageInformation = 64;  // MB_ICONINFORMATION | MB_OK
constexpr uint16_t kMachineI386 = 0x014C;   // IMAGE_FILE_MACHINE_I386
constexpr uint16_t kMachineAmd64 = 0x8664;  // IMAGE_FILE_MACHINE_AMD64
constexpr uint16_t kMachineArm64 = 0xAA64;  // IMAGE_FILE_MACHINE_ARM64

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

constexpr uint32_t kNoFile = 0xFFFFFFFFu;           // INVALID_FILE_ATTRIBUTES
constexpr uint32_t kAttributeReadOnly = 0x1;        // FILE_ATTRIBUTE_READONLY
constexpr uint32_t kAttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY

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
  /// On 64-bit Windows, the native (64-bit) system directory as the file operations below
  /// take it, without trailing backslash; the system directory above is then the one for
  /// 32-bit modules. Empty on 32-bit Windows, on Windows 95/98/Me, and where it cannot be read.
  virtual Text NativeSystemDirectory() = 0;
  /// The machine the native programs of this Windows are built for (IMAGE_FILE_MACHINE_*):
  /// on 64-bit Windows kMachineAmd64 or, where IsWow64Process2 tells (Windows 10 1709 on,
  /// looked up), another one such as kMachineArm64; kMachineI386 on 32-bit Windows.
  virtual uint16_t NativeMachine() = 0;
  /// NT 6.0 and later only: turns file and registry virtualization off for this process, so
  /// that a write without the rights is denied instead of landing in the user's VirtualStore.
  /// False where it could not be done.
  virtual bool TurnOffVirtualization() = 0;
  /// True when the process token's user is the system account (S-1-5-18): Intune,
  /// Configuration Manager and Group Policy startup scripts run the programs so. Its
  /// HKEY_CURRENT_USER is the logon screen's own settings, no user's. False on Windows
  /// 95/98/Me, which have no accounts, and where the token cannot be read.
  virtual bool RunsAsSystemAccount() = 0;

  // Keyboard.

  /// False when the function cannot be called at all; otherwise *layout is the loaded
  /// layout's handle, or 0 when loading and activating it failed. Windows 95 may return
  /// another layout's handle for a layout it has loaded already.
  virtual bool LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) = 0;
  /// Writes the handles of the layouts loaded now into `layouts` (room for `capacity`);
  /// returns how many it wrote, 0 on failure.
  virtual int GetKeyboardLayoutList(int capacity, uintptr_t* layouts) = 0;
  /// InstallLayoutOrTip of the system directory's input.dll (Vista on), which adds a
  /// layout to the user's language profile or, with flags 1, removes it; `profile` is
  /// language, colon, layout identifier ("0804:E0200804"). The library is loaded by its full
  /// path, never searched for. False where the library or the function is missing (every
  /// system before Vista, and Windows 95, 98 and Me), or when it returned FALSE.
  virtual bool InstallLayoutOrTip(const Text& profile, uint32_t flags) = 0;

  // Files and process. Wide text.

  /// A relative name is resolved against the current directory. Present only for a file
  /// that is not hidden, not a system file and not a directory.
  virtual Presence FileExists(const Text& name) = 0;
  // Files: the steps the deployment logic puts a file in place or removes it with. Full
  // paths; each step is one system call (or one restart operation), so that a run ended
  // between two of them leaves a state the next run can recognise.

  /// The file's attributes (FILE_ATTRIBUTE_*); kNoFile when there is no such file, or it
  /// cannot be examined.
  virtual uint32_t FileAttributes(const Text& path) = 0;
  virtual bool SetFileAttributes(const Text& path, uint32_t attributes) = 0;
  /// Makes a new empty file "tvlXXXX.tmp" in the directory of `path` (same volume, the
  /// directory's permissions) and writes its full path into *made. False when none was made.
  virtual bool MakeFileBeside(const Text& path, Text* made) = 0;
  /// Makes a new empty file at the full path `path` (CreateFile with CREATE_NEW). False when
  /// a file of that name exists already, or none could be made.
  virtual bool CreateNewFile(const Text& path) = 0;
  /// Copies the bytes of `source` into the existing file `target` and has them written to
  /// the disk before it returns. No one may write to the source meanwhile (it is opened
  /// sharing reads only). False unless all arrived.
  virtual bool CopyFlushed(const Text& source, const Text& target) = 0;
  /// Renames `from` to `to`, written through to the disk. With `replace`, a file at `to`
  /// is replaced (Windows 95/98/Me delete it first: it must then be a file of the
  /// program's own); without, the move fails when `to` exists.
  virtual bool MoveFile(const Text& from, const Text& to, bool replace) = 0;
  /// False when the file stays (absent, in use on NT, read-only, denied).
  virtual bool DeleteFile(const Text& path) = 0;
  /// True when another program holds the file so that it cannot be renamed now: on NT an
  /// open without delete sharing (a module mapped by a running program can be renamed, not
  /// deleted or replaced); on Windows 95/98/Me, which delete and rename a file even while
  /// it is open or mapped, any open that refuses an open sharing nothing.
  virtual bool FileInUse(const Text& path) = 0;
  /// Schedules `from` to take the place of `to` (replacing it) when Windows next starts, or
  /// with `to` empty, to be deleted then; the operations are carried out in the order they
  /// were scheduled. Windows 95/98/Me need both files to exist now (8.3 names). NT needs an
  /// administrator's rights. On 64-bit Windows the names are stored as a native process reads
  /// them at the restart (NameAtRestart, platform/restart_names.h). False when nothing was
  /// scheduled.
  virtual bool MoveAtRestart(const Text& from, const Text& to) = 0;
  /// True when an operation scheduled for the next restart names a file of the name of
  /// `path` (its last component, without regard to case, or on Windows 95/98/Me its 8.3
  /// name), as source or as target, in either of NT's lists (PendingFileRenameOperations and
  /// PendingFileRenameOperations2) or in WININIT.INI.
  virtual bool PendingAtRestart(const Text& path) = 0;
  /// The full path of the `index`th file "tvl*.tmp" (from 0) in `directory`; false when
  /// there are not that many.
  virtual bool FindLeftover(const Text& directory, int index, Text* path) = 0;
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

/// What the programs ask of the system beyond Platform to remove registry keys and values.
/// Same conventions as Platform.
class PlatformRemoval {
 public:
  /// Deletes the key at `path` (RegDeleteKeyA). On NT a key that has subkeys is not deleted;
  /// Windows 95/98/Me delete them with it. 0 on success; nonzero when the key is absent or
  /// cannot be deleted.
  virtual int32_t RegDeleteKeyA(RegistryRoot root, const Text& path) = 0;
  /// Deletes value `name` of the open key `handle` (RegDeleteValueA). 0 on success; nonzero
  /// when it is absent, cannot be deleted, or the handle is 0.
  virtual int32_t RegDeleteValueA(int32_t handle, const Text& name) = 0;
  /// Has what was written under `root` put on the disk before it returns (RegFlushKey):
  /// the two parts of the registry are separate files, written at separate moments.
  virtual void RegFlushKey(RegistryRoot root) = 0;

 protected:
  ~PlatformRemoval() = default;
};
