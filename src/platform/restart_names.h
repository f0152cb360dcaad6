#pragma once
// The names under which a restart operation of this 32-bit program must be stored on 64-bit
// Windows, where the program runs under WoW64.
//
// Operations scheduled for the next restart are carried out by a native process, which sees
// neither the file system redirection nor "Sysnative": it must find "<windows>\SysWOW64\..."
// for a file of the 32-bit system directory and "<windows>\system32\..." for one of the
// native directory. MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT, called with redirection on,
// stores a "<windows>\system32\..." name as "<windows>\SysWOW64\..." (XP x64's first builds
// stored it as given). So a file of the 32-bit directory is passed under its "SysWOW64" name,
// and one of the native directory under its "system32" name with redirection turned off around
// the call: every 64-bit Windows then stores the name as passed.
#include "platform/text.h"

/// What to hand MoveFileEx for one file.
struct RestartName {
  Text name;            // the name a native process reaches the file under
  bool native = false;  // a file of the native directory: call with redirection turned off
};

/// Writes into *restart the restart name of `path`, which names the file as this program
/// reaches it: in `system_dir` ("<windows>\system32", the 32-bit directory under WoW64) or in
/// `native_dir` ("<windows>\Sysnative"), or elsewhere. With `native_dir` empty (32-bit
/// Windows, Windows 95/98/Me) every name is its own, and so is a name outside both directories.
void NameAtRestart(const Text& path, const Text& system_dir, const Text& native_dir, RestartName* restart);
