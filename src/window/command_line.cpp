#include "window/command_line.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// No file name holds a '/', so "/S" after a blank is an argument even where the program's
// name, quoted, holds blanks.
bool AsksForSilentRun(const char* command_line) {
  for (const char* c = command_line; *c; ++c)
    if (IsBlank(c[0]) && c[1] == '/' && (c[2] | 0x20) == 's' && (c[3] == '\0' || IsBlank(c[3])))
      return true;
  return false;
}
