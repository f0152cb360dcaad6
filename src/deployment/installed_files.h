#pragma once
// The files an installation puts in place, all shipped in one folder: the copies, the
// removal, the layout slot and the Apps & Features entry's size all take their names here.
inline constexpr const char* kModuleName = "tvl1.IME";           // the input method's module
inline constexpr const char* kTableName = "tvl1.MB";             // its code table
inline constexpr const char* kUninstallerFile = "tvluninstall.exe";  // copied to the Windows directory
// The per-user setup entry's program, copied to the Windows directory. Its name and version
// block hold none of the words ("install", "setup", "update", ...) by which Windows elevates a
// program without a manifest: each user runs it at sign-in with their own rights.
inline constexpr const char* kSignInProgram = "tvluser.exe";

/// What every installation puts in place.
inline constexpr const char* kInstalledFiles[] = {kModuleName, kTableName, kUninstallerFile, kSignInProgram};

/// The 64-bit module, below the shipped folder; on 64-bit Windows it goes into the native
/// system directory as kModuleName, beside a second copy of kTableName.
inline constexpr const char* kNativeModuleSource = "x64\\tvl1.IME";
inline constexpr const char* kNativePairSources[] = {kNativeModuleSource, kTableName};
