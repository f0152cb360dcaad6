#include "deployment/activation.h"

#include "registration/layout_slot.h"

namespace {

// The user's language profile names a layout by language, colon, identifier.
Text LanguageProfile(const Text& layout_id) {
  Text profile = kLanguageId;
  profile.Append(u':').Append(layout_id);
  return profile;
}

constexpr uint32_t kAddToProfile = 0;
constexpr uint32_t kRemoveFromProfile = 1;  // ILOT_UNINSTALL

}  // namespace

bool IsHandleOfLayout(uintptr_t layout, const Text& layout_id) {
  if (layout_id.empty() || layout_id.size() > 8) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < layout_id.size(); ++i) {
    const char16_t c = layout_id[i], lower = c | 0x20;  // only 'A'-'F' and 'a'-'f' give 'a'-'f'
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (lower >= u'a' && lower <= u'f') digit = lower - u'a' + 10;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  // 64-bit Windows sign-extends the 32-bit handle value to pointer size.
  return layout != 0 && static_cast<uint32_t>(layout) == value;
}

bool ActivateLayout(const InstallerState& state, Platform& platform) {
  uintptr_t layout = 0;
  if (!platform.LoadKeyboardLayoutA(state.ValueBuffer, kKlfActivate, &layout) || layout == 0) return false;
  if (IsHandleOfLayout(layout, state.ValueBuffer)) return true;
  // Windows 95 may have returned another layout: then the list tells.
  uintptr_t loaded[64];
  for (int count = platform.GetKeyboardLayoutList(64, loaded); count > 0; --count)
    if (IsHandleOfLayout(loaded[count - 1], state.ValueBuffer)) return true;
  return false;
}

bool AddToLanguageProfile(const InstallerState& state, Platform& platform) {
  // From Windows 8 on, the system rebuilds the user's list from the profile at sign-in: a
  // layout missing there is gone from the list then.
  return platform.InstallLayoutOrTip(LanguageProfile(state.ValueBuffer), kAddToProfile) ||
         QueryNtVersion(platform) < 602;
}

void RemoveFromLanguageProfile(Platform& platform, uint32_t slots) {
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (slots >> slot & 1) platform.InstallLayoutOrTip(LanguageProfile(LayoutIdForSlot(slot)), kRemoveFromProfile);
}
