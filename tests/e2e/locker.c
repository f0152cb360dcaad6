/* Holds a file open with GENERIC_READ and FILE_SHARE_READ only, so others
   may read it but not write, replace or delete it.
   usage: locker.exe <path> <ready-marker> <release-marker> [seconds]
   Writes <ready-marker> once the file is open, then waits (bounded) until
   <release-marker> exists. Exit 0 on release, 2 on timeout, 1 on error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: locker path ready release [seconds]\n");
        return 1;
    }
    int seconds = argc > 4 ? atoi(argv[4]) : 120;
    HANDLE h = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "locker: cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    HANDLE r = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (r == INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return 1;
    }
    DWORD n;
    WriteFile(r, "ready\r\n", 7, &n, NULL);
    CloseHandle(r);
    for (int i = 0; i < seconds * 10; i++) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            CloseHandle(h);
            return 0;
        }
        Sleep(100);
    }
    CloseHandle(h);
    return 2;
}
