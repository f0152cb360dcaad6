#include "registration/setup_entry.h"

#include "deployment/installed_files.h"
#include "registration/layout_slot.h"
#include "registration/product_version.h"
#include "registration/registry_read.h"
#include "window/command_line.h"

namespace {

const char kEntryKey[] = "Software\\Microsoft\\Active Setup\\Installed Components\\TavrelInputMethod";
// Where Windows looks for the counterpart of an entry in the 32-bit view (64-bit Windows).
const char kCounterpartKey64[] =
    "Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components\\TavrelInputMethod";

// "Version": the first three of the programs' version numbers (those of the version blocks),
// so that an upgrade raises it, then the generation.
constexpr long kVersionNumbers[] = {PRODUCT_VERSION_NUMBERS};

// Value `name` of `handle` up to its first zero; empty when absent or unreadable.
Text ReadText(Platform& platform, int32_t handle, const char* name) {
  Text buffer;
  FillWithSpaces(buffer);
  int32_t type = kRegSz, size = kValueBufferBytes;
  if (platform.RegQueryValueExA(handle, name, &type, &buffer, &size) != 0) return Text();
  size_t length = 0;
  while (length < buffer.size() && buffer[length] != u'\0') ++length;
  return buffer.Left(length);
}

// The number after the last comma of `version`; -1 without a Version.
long GenerationOf(const Text& version) {
  if (version.empty()) return -1;
  size_t i = version.size();
  while (i > 0 && version[i - 1] != u',') --i;
  long generation = 0;
  for (; i < version.size() && version[i] >= u'0' && version[i] <= u'9'; ++i)
    generation = 10 * generation + (version[i] - u'0');
  return generation;
}

bool Removes(long generation) { return generation % 2 == 1; }

Text VersionOf(long generation) {
  Text version;
  for (int i = 0; i < 3; ++i) version.AppendNumber(kVersionNumbers[i]).Append(u',');
  return version.AppendNumber(generation);
}

// "<Windows directory>\tvluser.exe" and the command's arguments.
Text CommandLine(Platform& platform, SignInCommand command, uint32_t slots) {
  Text line = "\"";
  line.Append(platform.WindowsDirectory()).Append(u'\\').Append(kSignInProgram).Append(u'"');
  return line.Append(SignInArguments(command, slots));
}

}  // namespace

void RegisterSetupEntry(InstallerState& state, Platform& platform, int32_t slot) {
  long generation = -1;
  int32_t key = 0;
  if (platform.RegOpenKeyA(RegistryRoot::kLocalMachine, kEntryKey, &key) == 0) {
    generation = GenerationOf(ReadText(platform, key, "Version"));
    CloseKey(platform, key);
  }
  // A key without Version is what a run ended right after creating it leaves.
  state.CreatedSetupEntry = generation < 0;
  state.TurnedBackSetupEntry = Removes(generation);
  if (platform.RegCreateKeyA(RegistryRoot::kLocalMachine, kEntryKey, &state.KeyHandle) != 0)
    state.KeyHandle = 0;  // every write below then fails
  WriteValueText(state, platform, "", u"Tavrel输入法", /*wide=*/QueryNtVersion(platform) != 0);
  WriteValueText(state, platform, "StubPath", CommandLine(platform, SignInCommand::kAddToUser, 1u << slot));
  WriteValueNumber(state, platform, "IsInstalled", 1);
  // Last: the raised Version is what has each user's command run.
  WriteValueText(state, platform, "Version", VersionOf(generation < 0 ? 0 : generation + generation % 2));
  CloseKey(platform, state.KeyHandle);
  state.KeyHandle = 0;
}

bool MarkUserPartDone(Platform& platform) {
  int32_t key = 0;
  if (platform.RegOpenKeyA(RegistryRoot::kLocalMachine, kEntryKey, &key) != 0) return true;
  const Text version = ReadText(platform, key, "Version");
  CloseKey(platform, key);
  if (version.empty()) return true;
  const char* counterpart = platform.NativeSystemDirectory().empty() ? kEntryKey : kCounterpartKey64;
  if (platform.RegCreateKeyA(RegistryRoot::kCurrentUser, counterpart, &key) != 0) return false;
  const bool written = platform.RegSetValueExA(key, "Version", version) == 0;
  CloseKey(platform, key);
  return written;
}

SetupEntryTurn TurnSetupEntryIntoRemoval(Platform& platform, uint32_t slots) {
  int32_t key = 0;
  if (platform.RegOpenKeyA(RegistryRoot::kLocalMachine, kEntryKey, &key) != 0) return SetupEntryTurn::kNoEntry;
  const long generation = GenerationOf(ReadText(platform, key, "Version"));
  // The layout the installing command names: the one users got at sign-in. (The slots may be
  // gone already, removed by a run that ended; `slots` stand in only where it names none.)
  uint32_t named = 0;
  AsksForSignInCommand(ReadText(platform, key, "StubPath"), &named);
  if (named == 0) named = slots;
  CloseKey(platform, key);
  if (Removes(generation)) return SetupEntryTurn::kAlreadyRemoval;
  if (platform.RegCreateKeyA(RegistryRoot::kLocalMachine, kEntryKey, &key) != 0) return SetupEntryTurn::kFailed;
  const bool turned =
      platform.RegSetValueExA(key, "StubPath", CommandLine(platform, SignInCommand::kRemoveFromUser, named)) == 0 &&
      platform.RegSetValueExA(key, "Version", VersionOf(generation < 0 ? 1 : generation + 1)) == 0;
  CloseKey(platform, key);
  return turned ? SetupEntryTurn::kTurned : SetupEntryTurn::kFailed;
}

void RemoveCreatedSetupEntry(const InstallerState& state, Platform& platform, PlatformRemoval& removal) {
  if (state.CreatedSetupEntry) removal.RegDeleteKeyA(RegistryRoot::kLocalMachine, kEntryKey);
  else if (state.TurnedBackSetupEntry) TurnSetupEntryIntoRemoval(platform, 0);
}
