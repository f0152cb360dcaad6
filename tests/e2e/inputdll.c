/* Stands for the system's input.dll, which Wine lacks: InstallLayoutOrTip appends its
   arguments, "<text> <flags>", as a line to C:\inputdll.log and returns TRUE. Built with
   -DPLANTED it appends "planted" instead: that copy lies in the program's folder and must
   never be loaded. */
#include <windows.h>
#include <stdio.h>

__declspec(dllexport) BOOL WINAPI InstallLayoutOrTip(LPCWSTR text, DWORD flags)
{
    FILE *log = fopen("C:\\inputdll.log", "a");
    if (!log)
        return FALSE;
#ifdef PLANTED
    (void)text;
    (void)flags;
    fputs("planted\n", log);
#else
    fprintf(log, "%ls %lu\n", text, (unsigned long)flags);
#endif
    fclose(log);
    return TRUE;
}
