#pragma once
// The word size of Windows, as this 32-bit program meets it.
//
// On 64-bit Windows the program runs under WoW64: its "<windows>\system32" is redirected to
// "<windows>\SysWOW64", the directory of 32-bit modules. It names the native (64-bit) system
// directory "<windows>\Sysnative", which Vista and later resolve for 32-bit programs. XP x64
// and Server 2003 have no such name: there NativeFileAccess turns redirection off around an
// operation on such a path and hands it on as "<windows>\system32".
#include <windows.h>

#include "platform/text.h"

namespace wow64 {

/// True on 64-bit Windows (IsWow64Process2 or IsWow64Process; false where both are missing,
/// before XP SP2, and on Windows 95/98/Me, where nothing is called).
bool IsWow64();

/// "<windows>\system32" as this program names it: under WoW64 the 32-bit system directory.
/// Empty on 32-bit Windows, and where the system directory cannot be read.
Text SystemDirectory();

/// File system redirection turned off for this thread from TurnOff() until it is destroyed.
/// Nothing may load a library meanwhile, and never two at once: the one ended first would
/// turn redirection back on.
class RedirectionOff {
 public:
  RedirectionOff() = default;
  ~RedirectionOff();
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;
  /// False where redirection stays on (Wow64DisableWow64FsRedirection missing or failing).
  bool TurnOff();

 private:
  void* previous_ = nullptr;
  bool turned_off_ = false;
};

/// For the file operations on one path, or two, while it lives: path() is `path` and other()
/// is `other`, except that a path in the native system directory on a system without
/// "Sysnative" becomes the same path in "<windows>\system32", with redirection turned off
/// meanwhile.
class NativeFileAccess {
 public:
  explicit NativeFileAccess(const wchar_t* path, const wchar_t* other = nullptr);
  NativeFileAccess(const NativeFileAccess&) = delete;
  NativeFileAccess& operator=(const NativeFileAccess&) = delete;
  const wchar_t* path() const { return paths_[0]; }
  const wchar_t* other() const { return paths_[1]; }

 private:
  const wchar_t* paths_[2];
  RedirectionOff redirection_;
  wchar_t rewritten_[2][MAX_PATH];
};

}  // namespace wow64
