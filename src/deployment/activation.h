#pragma once
// The layout's activation and the user's language profile: what makes the layout usable in
// the running user's session, as opposed to the lists that bring it at the next sign-in.
#include <stdint.h>

#include "platform/platform.h"
#include "window/installer_state.h"

/// True when `layout` is the handle of the input-method layout `layout_id`: its low 32 bits
/// equal the identifier read as a hexadecimal number (E0200804 gives 0xE0200804).
bool IsHandleOfLayout(uintptr_t layout, const Text& layout_id);

/// Loads and activates the layout named in ValueBuffer. True when it took: the load returned
/// the layout's handle, or returned another layout (Windows 95 rotates its list for a layout
/// it has loaded already) while the list of loaded layouts, read right after, holds it.
/// From Windows 8 on the load has no effect unless this process owns the window with the
/// keyboard focus: call it only from an interactive run whose window is shown and active.
/// A layout that did not take is still in the user's lists, and comes at the next sign-in.
bool ActivateLayout(const InstallerState& state, Platform& platform);

/// Adds the layout in ValueBuffer to the user's language profile (InstallLayoutOrTip, from
/// Windows 8 on the list the system rewrites the NT family's list from at sign-in). False
/// from Windows 8 (NT 6.2) on when that is missing or fails; before, the lists stand as they
/// are written and it is true.
bool AddToLanguageProfile(const InstallerState& state, Platform& platform);

/// Has input.dll (Vista on) take the layout of each slot in `slots` (bit n: slot n) out of
/// the user's language profile; where it is missing, nothing is done.
void RemoveFromLanguageProfile(Platform& platform, uint32_t slots);
