#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Reads value `name` of state.KeyHandle into ValueBuffer (260 spaces first) twice in a
/// row, so that a first read with too small a ValueSize corrects it and the second
/// fills the buffer; then cuts ValueText to ValueSize - 1 characters. The count handed
/// to a read never exceeds the buffer; a value that does not fit, or an absent value,
/// leaves ValueText as spaces or empty, so it matches no identifier.
void ReadValueText(InstallerState& state, Platform& platform, const Text& name);

/// Closes a key handle unless it is 0.
void CloseKey(Platform& platform, int32_t handle);
