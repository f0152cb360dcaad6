#pragma once
// The installer's working variables, owned by the window from creation to unloading.
// Every field starts at zero or empty and is never reset.
#include <stdint.h>

#include "platform/text.h"

/// The installed files a run created where there was none, for a failed run to remove again.
struct CreatedFileSet {
  struct Pair {
    bool Module = false;  // tvl1.IME
    bool Table = false;   // tvl1.MB
  };
  Pair SystemDir;            // in the system directory
  Pair NativeSystemDir;      // in the native system directory (64-bit Windows)
  bool Uninstaller = false;  // tvluninstall.exe in the Windows directory
  bool SignInProgram = false;  // tvluser.exe in the Windows directory
};

struct InstallerState {
  Text SystemDir;          // system directory, no trailing backslash
  int32_t SystemDirSize = 0;
  Text TargetPath;         // destination of the file being copied
  int32_t Status = 0;      // result of the latest registry or system call
  Text LayoutKeyPath;      // layout slot key under examination
  int32_t KeyHandle = 0;   // the registry key handle, reused by every open and create
  int32_t Slot = 0;        // layout slot, 0 to 9
  Text ValueBuffer;        // registry read buffer; at the end the layout identifier
  int32_t ValueSize = 0;   // byte count handed to registry reads and updated by them
  Text ValueText;          // what the last read delivered, cut to length
  int32_t PreloadIndex = 0;
  Text Report;             // failure text; empty means success
  // Set when a step the installation depends on did not complete (no free slot, a registry
  // write, a file copy or the language profile failed): the run then reports failure.
  bool InstallFailed = false;
  // 64-bit Windows, and no 64-bit module beside the program: only 32-bit programs get the
  // input method, and the success message says so.
  bool Only32Bit = false;
  // 64-bit Windows, and the 64-bit module shipped: its pair goes to the native system directory.
  bool NativePair = false;
  // A file of this run waits for the next restart, to be replaced or deleted then.
  bool RestartNeeded = false;
  // What this run created, for a failed run to remove again: the slot key (or one that
  // held no value), the number of the subkey entry and of the NT family's named value it
  // wrote where none was (0: none), the files where none was, and the Apps & Features entry.
  bool CreatedSlot = false;
  int32_t AddedEntry = 0;
  int32_t AddedValue = 0;
  CreatedFileSet CreatedFiles;
  bool CreatedEntry = false;  // the Apps & Features entry
  // The per-user setup entry: created by this run, or turned back from a removal into the
  // installation by it (a failed run then deletes it, or turns it into a removal again).
  bool CreatedSetupEntry = false;
  bool TurnedBackSetupEntry = false;
};

/// Size in bytes of the registry read buffer (260 spaces in the ANSI code page).
constexpr int32_t kValueBufferBytes = 260;
