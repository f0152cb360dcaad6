#include "registration/preload_entry.h"

#include "registration/layout_slot.h"
#include "registration/registry_read.h"

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
  }
  state.ValueBuffer = layout_id;
  CloseKey(platform, slot_key);
  state.KeyHandle = 0;
}
