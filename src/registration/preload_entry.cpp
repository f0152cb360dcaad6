#include "registration/preload_entry.h"

#include "registration/layout_slot.h"
#include "registration/registry_read.h"

namespace {

// The NT family's list: values "1", "2", ... of this key, each a layout identifier.
const char16_t kPreloadKey[] = u"Keyboard Layout\\Preload";

// Whether the first characters of `value` are the identifier, without regard to case:
// "e0200804" names the layout E0200804.
bool NamesLayout(const Text& value, const Text& layout_id) {
  for (size_t i = 0; i < layout_id.size(); ++i) {
    char16_t c = value[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != layout_id[i]) return false;
  }
  return true;
}

// Enters the layout in the NT family's list: walks "1", "2", ... and stops at the first
// number without a value or at the first value naming the layout, and writes the identifier
// there. No other value is renumbered, reordered or removed. False when the list cannot be
// opened, or the write fails where the value does not already name the layout.
bool RegisterPreloadValue(Platform& platform, const Text& layout_id) {
  int32_t key = 0;
  if (platform.RegCreateKeyA(RegistryRoot::kCurrentUser, kPreloadKey, &key) != 0) return false;
  Text name, value;
  int32_t number = 0, read;
  bool names_layout;
  do {
    name = Text::Number(++number);
    value = Text::Repeat(u' ', kValueBufferBytes);
    int32_t type = kRegSz, size = kValueBufferBytes;
    read = platform.RegQueryValueExA(key, name, &type, &value, &size);
    names_layout = read == 0 && size == static_cast<int32_t>(layout_id.size()) + 1 &&
                   NamesLayout(value, layout_id);
    // A value too long for the buffer names another layout; any other failed read is a
    // number without a value.
  } while ((read == 0 && !names_layout) || read == kErrorMoreData);
  const bool written = platform.RegSetValueExA(key, name, layout_id) == 0 || names_layout;
  CloseKey(platform, key);
  return written;
}

}  // namespace

void RegisterPreloadEntry(InstallerState& state, Platform& platform) {
  const int32_t slot_key = state.KeyHandle;
  const Text layout_id = LayoutIdForSlot(state.Slot);

  if (!state.InstallFailed) {
    for (;;) {
      ++state.PreloadIndex;
      const Text path = Text(u"keyboard layout\\preload\\").Append(Text::Number(state.PreloadIndex));
      state.Status = platform.RegOpenKeyA(RegistryRoot::kCurrentUser, path, &state.KeyHandle);
      if (state.Status != 0) {
        state.Status = platform.RegCreateKeyA(RegistryRoot::kCurrentUser, path, &state.KeyHandle);
        if (state.Status != 0) state.KeyHandle = 0;
        break;
      }
      ReadValueText(state, platform, u"");
      if (state.ValueText == layout_id) break;
      CloseKey(platform, state.KeyHandle);
    }
    state.ValueBuffer = layout_id;
    state.Status = platform.RegSetValueExA(state.KeyHandle, u"", state.ValueBuffer);
    // A denied write counts when the entry already holds the identifier; a failed create
    // leaves handle 0, which holds nothing.
    if (state.Status != 0 && !ValueHolds(platform, state.KeyHandle, u"", state.ValueBuffer))
      state.InstallFailed = true;
    CloseKey(platform, state.KeyHandle);
    // The subkey entries are Windows 95/98/Me's list, which the NT family never reads.
    if (QueryPlatformId(platform) == kPlatformNt && !RegisterPreloadValue(platform, layout_id))
      state.InstallFailed = true;
  }
  state.ValueBuffer = layout_id;
  CloseKey(platform, slot_key);
  state.KeyHandle = 0;
}

void AddToLanguageProfile(const InstallerState& state, Platform& platform) {
  platform.InstallLayoutOrTip(Text(u"0804:").Append(state.ValueBuffer), /*flags=*/0);
}
