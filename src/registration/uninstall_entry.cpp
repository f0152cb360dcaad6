#include "registration/uninstall_entry.h"

#include "deployment/installed_files.h"
#include "registration/layout_slot.h"
#include "registration/registry_read.h"

namespace {

// The 64-bit module and a second code table, where the native system directory gets them.
const char kNativePairFiles[] = "x64\\tvl1.IME\0tvl1.MB\0";

const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TavrelInputMethod";

void WriteNumber(InstallerState& state, Platform& platform, const char* ascii_name, uint32_t data) {
  const Text name = ascii_name;
  uint32_t held = 0;
  state.Status = platform.RegSetDwordA(state.KeyHandle, name, data);
  if (state.Status != 0 && (platform.RegQueryDwordA(state.KeyHandle, name, &held) != 0 || held != data))
    state.InstallFailed = true;
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
  // One text for every value: a Text is 1 KiB of stack.
  Text value = u"Tavrel输入法";
  WriteValueText(state, platform, "DisplayName", value, /*wide=*/QueryNtVersion(platform) != 0);
  WriteValueText(state, platform, "DisplayVersion", value = "1.00");
  (value = "\"").Append(uninstaller).Append(u'"');
  WriteValueText(state, platform, "UninstallString", value);
  WriteValueText(state, platform, "QuietUninstallString", value.Append(" /S"));
  WriteValueText(state, platform, "DisplayIcon", (value = uninstaller).Append(",0"));
  WriteNumber(state, platform, "NoModify", 1);
  WriteNumber(state, platform, "NoRepair", 1);
  uint32_t bytes = 0;
  for (int list = state.NativePair ? 0 : 1; list < 2; ++list)
    for (const char* name = list ? kInstalledFiles : kNativePairFiles; *name; ++name) {
      const int32_t size = platform.FileSize((value = source_dir).Append(name));
      if (size > 0) bytes += static_cast<uint32_t>(size);
      while (*name) ++name;
    }
  WriteNumber(state, platform, "EstimatedSize", (bytes + 1023) / 1024);
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
