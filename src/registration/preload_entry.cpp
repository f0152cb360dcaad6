#include "registration/preload_entry.h"

#include "registration/layout_slot.h"
#include "registration/registry_read.h"

namespace {

// The NT family's list: values "1", "2", ... of this key, each a layout identifier.
const char kPreloadKey[] = "Keyboard Layout\\Preload";

// Windows 95/98/Me's list: entry n is subkey n of that key, the identifier its default value.
Text EntryPath(int32_t n) {
  Text path = kPreloadKey;
  path.Append(u'\\').AppendNumber(n);
  return path;
}

// Enters the layout in the NT family's list: walks "1", "2", ... and stops at the first
// number without a value or at the first value naming the layout, and writes the identifier
// there. No other value is renumbered, reordered or removed. False when the list cannot be
// opened, or the write fails where the value does not already name the layout.
bool RegisterPreloadValue(InstallerState& state, Platform& platform, const Text& layout_id) {
  int32_t key = 0;
  if (platform.RegCreateKeyA(RegistryRoot::kCurrentUser, kPreloadKey, &key) != 0) return false;
  Text name, value;
  int32_t number = 0, read;
  bool names_layout;
  do {
    (name = "").AppendNumber(++number);
    FillWithSpaces(value);
    int32_t type = kRegSz, size = kValueBufferBytes;
    read = platform.RegQueryValueExA(key, name, &type, &value, &size);
    // "e0200804" names the layout E0200804.
    names_layout = read == 0 && size > 0 && value.Left(size - 1).EqualsIgnoringCase(layout_id);
    // A value too long for the buffer names another layout; any other failed read is a
    // number without a value.
  } while ((read == 0 && !names_layout) || read == kErrorMoreData);
  const bool written = platform.RegSetValueExA(key, name, layout_id) == 0 || names_layout;
  if (!names_layout) state.AddedValue = number;
  CloseKey(platform, key);
  return written;
}

}  // namespace

void RegisterPreloadEntry(InstallerState& state, Platform& platform) {
  const int32_t slot_key = state.KeyHandle;
  const Text layout_id = LayoutIdForSlot(state.Slot);

  if (!state.InstallFailed) {
    bool added = true;
    for (;;) {
      ++state.PreloadIndex;
      const Text path = EntryPath(state.PreloadIndex);
      state.Status = platform.RegOpenKeyA(RegistryRoot::kCurrentUser, path, &state.KeyHandle);
      if (state.Status != 0) {
        state.Status = platform.RegCreateKeyA(RegistryRoot::kCurrentUser, path, &state.KeyHandle);
        if (state.Status != 0) state.KeyHandle = 0;
        break;
      }
      ReadValueText(state, platform, "");
      if (state.ValueText == layout_id) {
        added = false;
        break;
      }
      // A subkey without a value, as a run ended right after creating it leaves, is a free
      // number.
      if (state.Status == kErrorFileNotFound) break;
      CloseKey(platform, state.KeyHandle);
    }
    // Written where no entry held the layout: the failure path takes it out again.
    if (added) state.AddedEntry = state.PreloadIndex;
    // A denied write counts when the entry already holds the identifier; a failed create
    // leaves handle 0, which holds nothing.
    WriteValueText(state, platform, "", layout_id);
    CloseKey(platform, state.KeyHandle);
    // The subkey entries are Windows 95/98/Me's list, which the NT family never reads.
    if (QueryNtVersion(platform) != 0 && !RegisterPreloadValue(state, platform, layout_id))
      state.InstallFailed = true;
  }
  state.ValueBuffer = layout_id;
  CloseKey(platform, slot_key);
  state.KeyHandle = 0;
}

// Removal.

void RemoveAddedEntries(InstallerState& state, Platform& platform, PlatformRemoval& removal) {
  int32_t key = 0;
  if (state.AddedValue && platform.RegOpenKeyA(RegistryRoot::kCurrentUser, kPreloadKey, &key) == 0) {
    removal.RegDeleteValueA(key, Text::Number(state.AddedValue));
    CloseKey(platform, key);
  }
  // Made at the first missing number, or found there without a value: the list's end.
  if (state.AddedEntry) removal.RegDeleteKeyA(RegistryRoot::kCurrentUser, EntryPath(state.AddedEntry));
  // Out of the user's part before the slot goes: a list never names a slot that is not ours.
  removal.RegFlushKey(RegistryRoot::kCurrentUser);
}

namespace {

enum class EntryStep { kRead, kWrite, kDelete };

// One step on entry n of one form of the list, which is value n of the key
// "Keyboard Layout\Preload" (named) or the default value of its subkey n: reads it into
// ValueText (Status: the read's result), writes ValueText there, or deletes it (a subkey as
// a whole key). Returns the result of opening the key, or of the write or deletion.
int32_t StepOnEntry(UninstallerState& state, Platform& platform, PlatformRemoval& removal,
                    bool named, int32_t n, EntryStep step) {
  const Text number = Text::Number(n), none;
  const Text& value = named ? number : none;
  const Text key = named ? Text(kPreloadKey) : EntryPath(n);
  if (!named && step == EntryStep::kDelete) return removal.RegDeleteKeyA(RegistryRoot::kCurrentUser, key);
  int32_t result = platform.RegOpenKeyA(RegistryRoot::kCurrentUser, key, &state.KeyHandle);
  if (result == 0) {
    if (step == EntryStep::kRead) ReadValueText(state, platform, value);
    else if (step == EntryStep::kWrite) result = platform.RegSetValueExA(state.KeyHandle, value, state.ValueText);
    else result = removal.RegDeleteValueA(state.KeyHandle, value);
    CloseKey(platform, state.KeyHandle);
  }
  state.KeyHandle = 0;
  return result;
}

// Removes the entries naming a slot of ours from one form of the list; the entries after a
// removed one move down, keeping their order. The walk ends at the first number without a
// subkey, or without a value (a value too long to read is there all the same). Without
// `apply` it only looks: false when an entry that would have to move down cannot be read
// whole (no value, or one too long for the buffer), as it could not be written back as it was.
bool RemoveListEntries(UninstallerState& state, Platform& platform, PlatformRemoval& removal,
                       bool named, bool apply) {
  int32_t n = 0, kept = 0;
  while (StepOnEntry(state, platform, removal, named, ++n, EntryStep::kRead) == 0 &&
         (!named || state.Status == 0 || state.Status == kErrorMoreData)) {
    if (state.Status == 0 && NamesOwnSlot(state.OwnSlots, state.ValueText)) {
      state.Found = true;
    } else if (++kept != n) {
      if (state.Status != 0) return false;
      if (apply && StepOnEntry(state, platform, removal, named, kept, EntryStep::kWrite) != 0)
        state.RemovalFailed = true;
    }
  }
  // The numbers left over at the end, from the last down.
  while (apply && --n > kept)
    if (StepOnEntry(state, platform, removal, named, n, EntryStep::kDelete) != 0) state.RemovalFailed = true;
  return true;
}

// A list with an entry that cannot be moved down whole is left as it is, and reported.
void RemoveFromList(UninstallerState& state, Platform& platform, PlatformRemoval& removal, bool named) {
  if (RemoveListEntries(state, platform, removal, named, /*apply=*/false))
    RemoveListEntries(state, platform, removal, named, /*apply=*/true);
  else
    state.RemovalFailed = true;
}

}  // namespace

void RemovePreloadEntries(UninstallerState& state, Platform& platform, PlatformRemoval& removal) {
  RemoveFromList(state, platform, removal, /*named=*/false);
  if (QueryNtVersion(platform) != 0) RemoveFromList(state, platform, removal, /*named=*/true);
}
