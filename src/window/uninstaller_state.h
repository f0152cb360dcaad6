#pragma once
// The uninstaller's working variables: the installer's, for the registry reads and the
// system directory, and what the removal found.
#include <stdint.h>

#include "window/installer_state.h"

struct UninstallerState : InstallerState {
  uint32_t OwnSlots = 0;       // bit n: layout slot n names the input method's module
  bool Found = false;          // something of the input method was there to remove
  bool RemovalFailed = false;  // something of it could not be removed
};
