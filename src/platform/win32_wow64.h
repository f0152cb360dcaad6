#pragma once
// The word size of Windows, as this 32-bit program meets it.
//
// On 64-bit Windows the program runs under WoW64: its "<windows>\system32" is redirected to
// "<windows>\SysWOW64", the directory of 32-bit modules. It names the native (64-bit) system
// directory "<windows>\Sysnative", which Vista and later resolve for 32-bit programs. XP x64
// and Server 2003 have no such name: there NativeFileAccess turns redirection off around an
// operation on such a path and hands it on as "<windows>\system32".
//
// Moves and deletions scheduled for the next restart are carried out by a native process,
// which sees neither the redirection nor "Sysnative": BootPath gives the name it must read.
#include <windows.h>

#include "platform/text.h"

namespace wow64 {

/// True on 64-bit Windows (IsWow64Process; false where it is missing, before XP SP2, and on
/// Windows 95/98/Me, where nothing is called).
bool IsWow64();

/// For the file operations on one path, or two, while it lives: path() is `path` and other()
/// is `other`, except that a path in the native system directory on a system without
/// "Sysnative" becomes the same path in "<windows>\system32", with file system redirection
/// turned off meanwhile (for this thread; nothing may load a library meanwhile). Never two at
/// once: the one ended first would turn redirection back on.
class NativeFileAccess {
 public:
  explicit NativeFileAccess(const wchar_t* path, const wchar_t* other = nullptr);
  ~NativeFileAccess();
  NativeFileAccess(const NativeFileAccess&) = delete;
  NativeFileAccess& operator=(const NativeFileAccess&) = delete;
  const wchar_t* path() const { return paths_[0]; }
  const wchar_t* other() const { return paths_[1]; }

 private:
  const wchar_t* paths_[2];
  void* redirection_ = nullptr;
  bool turned_off_ = false;
  wchar_t rewritten_[2][MAX_PATH];
};

/// Writes into `boot` (MAX_PATH characters) the name under which a native process at the next
/// start of Windows reaches the file this program now names `path`: under WoW64, with
/// redirection on, "<windows>\system32\..." is "<windows>\SysWOW64\..." and
/// "<windows>\Sysnative\..." is "<windows>\system32\..."; every other path is itself. False
/// when the name does not fit.
bool BootPath(const wchar_t* path, wchar_t* boot);

}  // namespace wow64
