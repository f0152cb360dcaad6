/* Holds a file open with GENERIC_READ and FILE_SHARE_READ only, so others
   may read it but not write, replace or delete it; or, with -map, holds a
   module mapped as an image (LoadLibraryExA with DONT_RESOLVE_DLL_REFERENCES),
   as a process using an earlier build of it would; or, with -write, holds it
   open for writing, letting others read and write it too.
   usage: locker.exe [-map|-write] <path> <ready-marker> <release-marker> [seconds]
          locker.exe -acp <out-file>   (writes the ANSI code page, GetACP())
          locker.exe -run <out-file> <command line>   (runs it, waits, writes its
          exit status in full: Wine passes on only its low 8 bits)
   Writes <ready-marker> once the file is open, then waits (bounded) until
   <release-marker> exists. Exit 0 on release, 2 on timeout, 1 on error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int write_marker(const char *path, const char *text)
{
    HANDLE r = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (r == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n;
    WriteFile(r, text, (DWORD)strlen(text), &n, NULL);
    CloseHandle(r);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "-acp") == 0) {
        char acp[16];
        snprintf(acp, sizeof acp, "%u", GetACP());
        return write_marker(argv[2], acp) ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "-run") == 0) {
        STARTUPINFOA si = {sizeof si};
        PROCESS_INFORMATION pi;
        DWORD status;
        char text[16];
        if (!CreateProcessA(NULL, argv[3], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return 1;
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &status);
        snprintf(text, sizeof text, "%lu", status);
        return write_marker(argv[2], text) ? 0 : 1;
    }
    int map = argc > 1 && strcmp(argv[1], "-map") == 0;
    int writer = argc > 1 && strcmp(argv[1], "-write") == 0;
    argv += map + writer;
    argc -= map + writer;
    if (argc < 4) {
        fprintf(stderr, "usage: locker [-map|-write] path ready release [seconds]\n");
        return 1;
    }
    int seconds = argc > 4 ? atoi(argv[4]) : 120;
    HANDLE h = INVALID_HANDLE_VALUE;
    HMODULE module = NULL;
    if (map)
        module = LoadLibraryExA(argv[1], NULL, DONT_RESOLVE_DLL_REFERENCES);
    else
        h = CreateFileA(argv[1], writer ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                        writer ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, NULL,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (map ? module == NULL : h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "locker: cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    int rc = 2;
    if (!write_marker(argv[2], "ready\r\n")) {
        rc = 1;
        seconds = 0;
    }
    for (int i = 0; i < seconds * 10; i++) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            rc = 0;
            break;
        }
        Sleep(100);
    }
    if (map)
        FreeLibrary(module);
    else
        CloseHandle(h);
    return rc;
}
