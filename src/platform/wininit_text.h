#pragma once
// The [rename] section of WININIT.INI, which Windows 95, 98 and Me carry out at their next
// start: a line "<target>=<source>" (8.3 names) puts the file `source` in the place of
// `target`, and "NUL=<source>" deletes `source`. A key may repeat, so the file is edited as
// text: the profile functions keep one line per key.

/// Inserts `line` (`line_length` bytes, no line break) followed by "\r\n" into the INI text
/// `text` (`length` bytes in a buffer of `capacity`) as the last line of its first [rename]
/// section (after the section's last line that is not blank), or, when there is no such
/// section, in a new one at the end. Every other byte is kept; a last line without its line
/// break gets one. Returns the new length, or -1, leaving the text as it was, when the
/// result would not fit.
int AddRenameLine(char* text, int length, int capacity, const char* line, int line_length);
