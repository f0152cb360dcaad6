#pragma once
// The [rename] section of WININIT.INI, which Windows 95, 98 and Me carry out at their next
// start: a line "<target>=<source>" (8.3 names) puts the file `source` in the place of
// `target`, and "NUL=<source>" deletes `source`. A key may repeat, so the file is edited as
// text: the profile functions keep one line per key.
#include "platform/text.h"

/// Inserts `line` (`line_length` bytes, no line break) followed by "\r\n" into the INI text
/// `text` (`length` bytes in a buffer of `capacity`) as the last line of its first [rename]
/// section (after the section's last line that is not blank), or, when there is no such
/// section, in a new one at the end. Every other byte is kept; a last line without its line
/// break gets one. Returns the new length, or -1, leaving the text as it was, when the
/// result would not fit.
int AddRenameLine(char* text, int length, int capacity, const char* line, int line_length);

/// True when `text` (`length` characters: WININIT.INI, or the NT family's pending renames,
/// paths separated by zero characters) names a file `name` (`name_length` characters): a
/// backslash, the name without regard to ASCII case, then the end, a zero, '=', a blank or
/// a line break.
bool NamesFile(const char16_t* text, int length, const char16_t* name, int name_length);

/// One list of the operations pending at the next restart, as read: the NT family's
/// PendingFileRenameOperations or PendingFileRenameOperations2 (paths separated by zero
/// characters), or WININIT.INI on Windows 95/98/Me.
struct PendingList {
  enum class Read { kAbsent, kText, kTooLong };
  Read read = Read::kAbsent;
  const char16_t* text = nullptr;  // kText: `length` characters
  int length = 0;
};

/// True when one of the `count` lists names the file at the full path `path` (NamesFile, by
/// its last component), or, where `short_path` is not empty, by the last component of that
/// 8.3 form of it (as WININIT.INI's lines name files). A list too long to read may name it,
/// so it counts as naming it.
bool ListsNameFile(const PendingList* lists, int count, const Text& path, const Text& short_path);
