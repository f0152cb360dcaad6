#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

constexpr int kSlotCount = 10;
constexpr int32_t kPlatformNt = 2;  // the NT family's platform identifier

/// "E02" + slot digit + "0804".
Text LayoutIdForSlot(int32_t slot);

/// Platform identifier from GetVersionExA: 2 for the NT family, 0 when the query fails.
int32_t QueryPlatformId(Platform& platform);

/// Finds the first of the ten layout slots that is free or already names "tvl1.IME",
/// creates its key under HKEY_LOCAL_MACHINE and writes the three layout values. Leaves
/// Slot, LayoutKeyPath and KeyHandle open on the slot key (0 when nothing was created).
/// A write that fails counts when the value already holds exactly the bytes it would have
/// written. Sets InstallFailed when every slot holds another input method (nothing is then
/// written), when the slot key cannot be created or opened, or when a value still differs
/// after its write.
void RegisterLayoutSlot(InstallerState& state, Platform& platform);
