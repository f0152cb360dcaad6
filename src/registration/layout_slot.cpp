#include "registration/layout_slot.h"

#include "deployment/installed_files.h"
#include "registration/registry_read.h"

namespace {

const char kLayoutsKey[] = "System\\CurrentControlSet\\Control\\Keyboard Layouts\\";

// The key of slot `slot` under HKEY_LOCAL_MACHINE.
Text SlotKeyPath(int32_t slot) { return Text(kLayoutsKey).Append(LayoutIdForSlot(slot)); }

// A set of slots as the uninstaller keeps it: bit n for slot n.
uint32_t SlotBit(int32_t slot) { return 1u << slot; }
bool HoldsSlot(uint32_t slots, int32_t slot) { return (slots & SlotBit(slot)) != 0; }

// Walks the slots from 0 and stops at the first that is free or already names the module:
// true with Slot, LayoutKeyPath and CreatedSlot set for it, and KeyHandle open on it where it
// exists (0 where it does not). False when every slot holds another input method.
bool FindFreeOrOwnSlot(InstallerState& state, Platform& platform) {
  for (state.Slot = 0; state.Slot < kSlotCount; ++state.Slot) {
    state.LayoutKeyPath = SlotKeyPath(state.Slot);
    state.Status = platform.RegOpenKeyA(RegistryRoot::kLocalMachine, state.LayoutKeyPath, &state.KeyHandle);
    if (state.Status != 0) {
      state.KeyHandle = 0;  // a failed open yields no handle to close
      state.CreatedSlot = true;
      return true;
    }
    ReadValueText(state, platform, "IME File");
    if (state.ValueText == kModuleName) return true;
    // A key that holds no value is what a run ended right after creating it leaves: free.
    if (state.Status == kErrorFileNotFound) {
      ReadValueText(state, platform, "Layout File");
      if (state.Status == kErrorFileNotFound) {
        state.CreatedSlot = true;
        return true;
      }
    }
    CloseKey(platform, state.KeyHandle);
    state.KeyHandle = 0;
  }
  return false;
}

}  // namespace

Text LayoutIdForSlot(int32_t slot) {
  Text id = "E02";
  id.AppendNumber(slot).Append(kLanguageId);
  return id;
}

int32_t QueryNtVersion(Platform& platform) {
  OsVersionInfo info = {};
  info.size = sizeof(OsVersionInfo);
  for (char& c : info.service_pack) c = ' ';
  platform.GetVersionExA(&info);  // a failed query leaves platform_id 0
  return info.platform_id == kPlatformNt
             ? static_cast<int32_t>(100 * info.major_version + info.minor_version)
             : 0;
}

void RegisterLayoutSlot(InstallerState& state, Platform& platform) {
  if (!FindFreeOrOwnSlot(state, platform)) {
    // Every slot names another input method: taking one over would break it.
    state.Slot = kSlotCount - 1;
    state.InstallFailed = true;
    return;
  }

  CloseKey(platform, state.KeyHandle);  // the search handle is superseded by the create
  state.Status = platform.RegCreateKeyA(RegistryRoot::kLocalMachine, state.LayoutKeyPath, &state.KeyHandle);
  if (state.Status != 0) {
    state.KeyHandle = 0;
    state.InstallFailed = true;
  }
  // A denied write still counts when the value already holds these bytes: on NT a user
  // without administrative rights meets the slot as an administrator registered it. Each
  // value is written from ValueBuffer, which keeps the last of them.
  state.ValueBuffer = kModuleName;
  WriteValueText(state, platform, "Ime File", state.ValueBuffer);
  const bool nt = QueryNtVersion(platform) != 0;
  state.ValueBuffer = nt ? "kbdus.dll" : "kbdus.kbd";
  WriteValueText(state, platform, "Layout File", state.ValueBuffer);
  // The name shown in the system's list of input methods: through the ANSI code page it
  // would lose its Chinese characters on an NT system whose code page is not 936.
  state.ValueBuffer = u"Tavrel输入法";
  WriteValueText(state, platform, "Layout Text", state.ValueBuffer, /*wide=*/nt);
}

// Removal.

bool NamesOwnSlot(uint32_t slots, const Text& layout_id) {
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (HoldsSlot(slots, slot) && layout_id.EqualsIgnoringCase(LayoutIdForSlot(slot))) return true;
  return false;
}

void RemoveCreatedSlot(InstallerState& state, PlatformRemoval& removal) {
  if (state.CreatedSlot) removal.RegDeleteKeyA(RegistryRoot::kLocalMachine, state.LayoutKeyPath);
}

namespace {

// Reads the "Ime File" of `slot` into ValueText (empty or spaces where it has none), leaving
// no key open; false when the slot has no key.
bool ReadSlotImeFile(InstallerState& state, Platform& platform, int32_t slot) {
  state.LayoutKeyPath = SlotKeyPath(slot);
  if (platform.RegOpenKeyA(RegistryRoot::kLocalMachine, state.LayoutKeyPath, &state.KeyHandle) != 0) return false;
  ReadValueText(state, platform, "Ime File");
  CloseKey(platform, state.KeyHandle);
  state.KeyHandle = 0;
  return true;
}

// False for what a read of an absent value leaves in ValueText: nothing, or spaces.
bool NamesAFile(const Text& value_text) {
  for (size_t i = 0; i < value_text.size(); ++i)
    if (value_text[i] != u' ') return true;
  return false;
}

}  // namespace

void FindOwnSlots(UninstallerState& state, Platform& platform) {
  for (int32_t slot = 0; slot < kSlotCount; ++slot) {
    // A free slot is passed over: the installer may have left later ones in use.
    if (!ReadSlotImeFile(state, platform, slot) || !state.ValueText.EqualsIgnoringCase(kModuleName)) continue;
    state.OwnSlots |= SlotBit(slot);
    state.Found = true;
  }
}

uint32_t FindSlotsOfOtherInputMethods(InstallerState& state, Platform& platform) {
  uint32_t others = 0;
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (ReadSlotImeFile(state, platform, slot) && NamesAFile(state.ValueText) &&
        !state.ValueText.EqualsIgnoringCase(kModuleName))
      others |= SlotBit(slot);
  return others;
}

void DeleteOwnSlots(UninstallerState& state, PlatformRemoval& removal) {
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (HoldsSlot(state.OwnSlots, slot) &&
        removal.RegDeleteKeyA(RegistryRoot::kLocalMachine, SlotKeyPath(slot)) != 0)
      state.RemovalFailed = true;
}
