#pragma once
// The files an installation puts in place, all shipped in one folder. Their names are stored
// once, one after another, each ended by its zero, with an empty name after the last; the
// copies, the removal, the layout slot and the entry's size all read them there.
inline constexpr char kInstalledFiles[] = "tvl1.IME\0tvl1.MB\0tvluninstall.exe\0";
inline constexpr const char* kModuleName = kInstalledFiles;
inline constexpr const char* kTableName = kModuleName + sizeof("tvl1.IME");
inline constexpr const char* kUninstallerFile = kTableName + sizeof("tvl1.MB");
