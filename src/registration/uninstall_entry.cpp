#include "registration/uninstall_entry.h"

#include "deployment/installed_files.h"
#include "registration/layout_slot.h"
#include "registration/product_version.h"
#include "registration/registry_read.h"

namespace {

const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TavrelInputMethod";

constexpr char kDisplayVersion[] = PRODUCT_VERSION_TEXT;  // as the programs' version blocks

// The path in double quotes, as a command line names the program.
Text Quoted(const Text& path) { return Text("\"").Append(path).Append(u'"'); }

// The size of each named file in source_dir, added up; a file that cannot be read counts 0.
template <size_t kCount>
uint32_t BytesOf(Platform& platform, const Text& source_dir, const char* const (&names)[kCount]) {
  uint32_t bytes = 0;
  for (const char* name : names) {
    const int32_t size = platform.FileSize(Text(source_dir).Append(name));
    if (size > 0) bytes += static_cast<uint32_t>(size);
  }
  return bytes;
}

}  // namespace

void RegisterUninstallEntry(InstallerState& state, Platform& platform, const Text& source_dir,
                            const Text& uninstaller) {
  // The entry's key under HKEY_LOCAL_MACHINE; a failed run removes it again where it made it.
  const Text key = kEntryKey;
  state.CreatedEntry = platform.RegOpenKeyA(RegistryRoot::kLocalMachine, key, &state.KeyHandle) != 0;
  if (!state.CreatedEntry) CloseKey(platform, state.KeyHandle);
  if (platform.RegCreateKeyA(RegistryRoot::kLocalMachine, key, &state.KeyHandle) != 0)
    state.KeyHandle = 0;  // every write below then fails
  WriteValueText(state, platform, "DisplayName", u"Tavrel输入法", /*wide=*/QueryNtVersion(platform) != 0);
  WriteValueText(state, platform, "DisplayVersion", kDisplayVersion);
  WriteValueText(state, platform, "UninstallString", Quoted(uninstaller));
  WriteValueText(state, platform, "QuietUninstallString", Quoted(uninstaller).Append(" /S"));
  WriteValueText(state, platform, "DisplayIcon", Text(uninstaller).Append(",0"));
  WriteValueNumber(state, platform, "NoModify", 1);
  WriteValueNumber(state, platform, "NoRepair", 1);
  uint32_t bytes = BytesOf(platform, source_dir, kInstalledFiles);
  if (state.NativePair) bytes += BytesOf(platform, source_dir, kNativePairSources);
  WriteValueNumber(state, platform, "EstimatedSize", (bytes + 1023) / 1024);  // KiB, rounded up
  CloseKey(platform, state.KeyHandle);
  state.KeyHandle = 0;
}

// Removal.

void RemoveUninstallEntry(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  const Text key = kEntryKey;
  if (platform.RegOpenKeyA(RegistryRoot::kLocalMachine, key, &state.KeyHandle) != 0) {
    state.KeyHandle = 0;
    return;
  }
  CloseKey(platform, state.KeyHandle);
  state.KeyHandle = 0;
  state.Found = true;
  if (removal.RegDeleteKeyA(RegistryRoot::kLocalMachine, key) != 0) state.RemovalFailed = true;
}

void RemoveCreatedEntry(const InstallerState& state, PlatformRemoval& removal) {
  if (state.CreatedEntry) removal.RegDeleteKeyA(RegistryRoot::kLocalMachine, kEntryKey);
}
