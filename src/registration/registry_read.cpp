#include "registration/registry_read.h"

void FillWithSpaces(Text& buffer) {
  buffer = "";
  for (int32_t i = 0; i < kValueBufferBytes; ++i) buffer.Append(u' ');
}

namespace {

void ReadOnce(InstallerState& state, Platform& platform, const Text& name) {
  int32_t type = kRegSz;
  int32_t count = state.ValueSize < kValueBufferBytes ? state.ValueSize : kValueBufferBytes;
  state.Status = platform.RegQueryValueExA(state.KeyHandle, name, &type, &state.ValueBuffer, &count);
  state.ValueSize = count;
}

}  // namespace

void ReadValueText(InstallerState& state, Platform& platform, const Text& name) {
  FillWithSpaces(state.ValueBuffer);
  ReadOnce(state, platform, name);
  ReadOnce(state, platform, name);
  // An absent value met while ValueSize is 0 would give a negative length: treat as empty.
  state.ValueText = state.ValueBuffer.Left(state.ValueSize > 0 ? state.ValueSize - 1 : 0);
}

bool ValueHolds(Platform& platform, int32_t handle, const Text& name, const Text& expected,
                bool wide) {
  Text buffer;
  FillWithSpaces(buffer);
  int32_t type = kRegSz;
  // The buffer is kValueBufferBytes units: bytes of its ANSI form, or with `wide` UTF-16
  // characters.
  const int32_t bytes_per_unit = wide ? 2 : 1;
  int32_t count = kValueBufferBytes * bytes_per_unit;
  const int32_t result = wide ? platform.RegQueryValueExW(handle, name, &type, &buffer, &count)
                              : platform.RegQueryValueExA(handle, name, &type, &buffer, &count);
  if (result != 0 || type != kRegSz) return false;
  // An odd last byte spoils the space after the units read.
  const int32_t units_read = count / bytes_per_unit;
  if (units_read < 1 || units_read > kValueBufferBytes) return false;
  // The buffer as the read of a value a write of `expected` stored leaves it: that text, its
  // zero, and the spaces the read did not reach.
  Text written = expected;
  written.Append(u'\0');
  for (int32_t i = units_read; i < kValueBufferBytes; ++i) written.Append(u' ');
  return buffer == written;
}

void WriteValueText(InstallerState& state, Platform& platform, const char* name, const Text& data,
                    bool wide) {
  const Text value_name = name;
  state.Status = wide ? platform.RegSetValueExW(state.KeyHandle, value_name, data)
                      : platform.RegSetValueExA(state.KeyHandle, value_name, data);
  if (state.Status != 0 && !ValueHolds(platform, state.KeyHandle, value_name, data, wide))
    state.InstallFailed = true;
}

void WriteValueNumber(InstallerState& state, Platform& platform, const char* name, uint32_t data) {
  const Text value_name = name;
  uint32_t held = 0;
  state.Status = platform.RegSetDwordA(state.KeyHandle, value_name, data);
  if (state.Status != 0 && (platform.RegQueryDwordA(state.KeyHandle, value_name, &held) != 0 || held != data))
    state.InstallFailed = true;
}

void CloseKey(Platform& platform, int32_t handle) {
  if (handle != 0) platform.RegCloseKey(handle);
}
