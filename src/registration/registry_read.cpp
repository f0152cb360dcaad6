#include "registration/registry_read.h"

namespace {

void ReadOnce(InstallerState& state, Platform& platform, const Text& name) {
  int32_t type = kRegSz;
  int32_t count = state.ValueSize < kValueBufferBytes ? state.ValueSize : kValueBufferBytes;
  state.Status = platform.RegQueryValueExA(state.KeyHandle, name, &type, &state.ValueBuffer, &count);
  state.ValueSize = count;
}

}  // namespace

void ReadValueText(InstallerState& state, Platform& platform, const Text& name) {
  state.ValueBuffer = Text::Repeat(u' ', kValueBufferBytes);
  ReadOnce(state, platform, name);
  ReadOnce(state, platform, name);
  // An absent value met while ValueSize is 0 would give a negative length: treat as empty.
  state.ValueText = state.ValueSize > 0 ? state.ValueBuffer.Left(state.ValueSize - 1) : Text();
}

bool ValueHolds(Platform& platform, int32_t handle, const Text& name, const Text& expected,
                bool wide) {
  Text buffer = Text::Repeat(u' ', kValueBufferBytes);
  int32_t type = kRegSz;
  const int32_t unit = wide ? 2 : 1;  // bytes a character of the buffer takes
  int32_t count = kValueBufferBytes * unit;
  if ((wide ? platform.RegQueryValueExW(handle, name, &type, &buffer, &count)
            : platform.RegQueryValueExA(handle, name, &type, &buffer, &count)) != 0 ||
      type != kRegSz)
    return false;
  count /= unit;  // characters; an odd last byte spoils the space after them
  if (count < 1 || count > kValueBufferBytes) return false;
  const Text written = Text(expected).Append(u'\0').Append(Text::Repeat(u' ', kValueBufferBytes - count));
  return buffer == written;
}

void CloseKey(Platform& platform, int32_t handle) {
  if (handle != 0) platform.RegCloseKey(handle);
}
