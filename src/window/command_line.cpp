#include "window/command_line.h"

#include "registration/layout_slot.h"

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

const char kAddSwitch[] = "/AddToUser";
const char kRemoveSwitch[] = "/RemoveFromUser";

// One argument of a command line: the characters from `begin` up to, not including, `end`.
struct Argument {
  const Text& line;
  size_t begin, end;

  bool Is(const Text& word) const {
    return end - begin == word.size() && Text().Append(line.data() + begin, end - begin).EqualsIgnoringCase(word);
  }
};

// The slot whose identifier the argument is, without regard to case; -1 for none.
int32_t SlotNamedBy(const Argument& argument) {
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (argument.Is(LayoutIdForSlot(slot))) return slot;
  return -1;
}

}  // namespace

// No file name holds a '/', so "/S" after a blank is an argument even where the program's
// name, quoted, holds blanks.
bool AsksForSilentRun(const char* command_line) {
  for (const char* c = command_line; *c; ++c)
    if (IsBlank(c[0]) && c[1] == '/' && (c[2] | 0x20) == 's' && (c[3] == '\0' || IsBlank(c[3])))
      return true;
  return false;
}

// The program's name comes first and may be quoted with blanks in it: every argument read
// here follows a blank and starts with '/' (the switch) or is read after the switch.
SignInCommand AsksForSignInCommand(const Text& command_line, uint32_t* slots) {
  SignInCommand command = SignInCommand::kNone;
  *slots = 0;
  for (size_t i = 0; i < command_line.size(); ++i) {
    if (!IsBlank(command_line[i])) continue;
    Argument argument{command_line, i + 1, i + 1};
    while (argument.end < command_line.size() && !IsBlank(command_line[argument.end])) ++argument.end;
    if (command == SignInCommand::kNone) {
      if (argument.Is(kAddSwitch)) command = SignInCommand::kAddToUser;
      if (argument.Is(kRemoveSwitch)) command = SignInCommand::kRemoveFromUser;
    } else if (SlotNamedBy(argument) >= 0) {
      *slots |= 1u << SlotNamedBy(argument);
    }
  }
  return command;
}

Text SignInArguments(SignInCommand command, uint32_t slots) {
  Text arguments;
  if (command == SignInCommand::kNone) return arguments;
  arguments.Append(u' ').Append(command == SignInCommand::kAddToUser ? kAddSwitch : kRemoveSwitch);
  for (int32_t slot = 0; slot < kSlotCount; ++slot)
    if (slots >> slot & 1) arguments.Append(u' ').Append(LayoutIdForSlot(slot));
  return arguments;
}
