// The lock that keeps two runs of the input method's programs from walking the registry lists
// at the same moment (a double click starts two).
#include "platform/win32_platform.h"

namespace {

// A plain name: within the session on systems with Terminal Services, for the whole machine
// on the others. A run in another user's session, whose report may stay up for hours, is not
// waited for; and NT 4.0 without Terminal Services refuses the "Global\" prefix.
const char kRunLockName[] = "TavrelInputMethodSetupRun";

}  // namespace

// The handle is never closed: the lock is held until the process ends, and the system then
// gives it to the next run as abandoned. The window already exists, so the wait also hands
// sent messages (broadcasts from other programs) to the window procedure: PeekMessage
// delivers them, and the posted ones stay queued for the message loop.
void Win32Platform::TakeRunLock() {
  HANDLE lock = CreateMutexA(nullptr, /*bInitialOwner=*/FALSE, kRunLockName);
  if (!lock) return;
  MSG message;
  while (MsgWaitForMultipleObjects(1, &lock, /*fWaitAll=*/FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
}
