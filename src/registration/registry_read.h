#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// Makes `buffer` what a read or a directory query is handed: kValueBufferBytes spaces.
/// Filled in place: a Text is 1 KiB.
void FillWithSpaces(Text& buffer);

/// Reads value `name` of state.KeyHandle into ValueBuffer (260 spaces first) twice in a
/// row, so that a first read with too small a ValueSize corrects it and the second
/// fills the buffer; then cuts ValueText to ValueSize - 1 characters. The count handed
/// to a read never exceeds the buffer; a value that does not fit, or an absent value,
/// leaves ValueText as spaces or empty, so it matches no identifier.
void ReadValueText(InstallerState& state, Platform& platform, const Text& name);

/// True when value `name` of `handle` holds exactly the bytes a write of `expected` stores:
/// REG_SZ, its ANSI bytes and one zero byte. Reads once into a buffer of its own (260
/// spaces, byte count 260); ValueBuffer, ValueSize and Status are not touched. The buffer
/// comes back whole, so it must read expected, one zero and the spaces beyond the bytes read:
/// a value without its zero byte, with bytes after it, or too long for the buffer fails.
/// `wide`: the same through RegQueryValueExW, counting UTF-16 bytes (a write by RegSetValueExW).
bool ValueHolds(Platform& platform, int32_t handle, const Text& name, const Text& expected,
                bool wide = false);

/// Writes `data` as REG_SZ value `name` of state.KeyHandle (Status: the write's result),
/// through RegSetValueExW when `wide`. A write that fails counts where the value already
/// holds exactly those bytes (ValueHolds); otherwise it sets InstallFailed.
void WriteValueText(InstallerState& state, Platform& platform, const char* name, const Text& data,
                    bool wide = false);

/// Writes `data` as REG_DWORD value `name` of state.KeyHandle (Status: the write's result).
/// A write that fails counts where the value already holds `data`; otherwise it sets
/// InstallFailed.
void WriteValueNumber(InstallerState& state, Platform& platform, const char* name, uint32_t data);

/// Closes a key handle unless it is 0.
void CloseKey(Platform& platform, int32_t handle);
