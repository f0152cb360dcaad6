#pragma once
// File moves and deletions carried out when Windows next starts, for files in use now.

/// Schedules `from` to take the place of `to`, replacing the file there, when Windows next
/// starts; with `to` == nullptr, schedules `from` to be deleted then. False when nothing was
/// scheduled. `from` must exist, and on Windows 95/98/Me also `to` when given (the lines
/// there name files by their 8.3 names). The NT family records a pending rename
/// (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, which needs an administrator's rights);
/// Windows 95/98/Me get a line in the [rename] section of WININIT.INI in the Windows
/// directory, every line already there kept.
bool MoveAtRestart(const wchar_t* from, const wchar_t* to);
