/* Stands for an earlier build of the input-method module: a DLL that does
   nothing, loaded by another process while the installer runs. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}

__declspec(dllexport) int OldImeBuild(void) { return 1; }
