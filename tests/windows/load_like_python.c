/* Loads a tav.dll the way Python's ctypes.CDLL(path) does on Windows
 * (LoadLibraryExW with the DLL's own folder and the default folders), as
 * the tav package loads the one beside it, and prints its version; with
 * "usb", also which USB libraries it finds and why none reaches a board:
 *   load_like_python PATH\tav.dll [usb] */
#include <windows.h>

#include <stdio.h>

typedef const char* (*VersionFunction)(void);
typedef const char* (*TextFunction)(void);

int main(int argc, char** argv)
{
    wchar_t path[MAX_PATH];
    HMODULE library;
    VersionFunction version;
    if (argc < 2 || argc > 3 || MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, path, MAX_PATH) == 0)
        return 2;
    library = LoadLibraryExW(path, NULL, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
    if (library == NULL) {
        printf("LoadLibraryExW failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    version = (VersionFunction)(void (*)(void))GetProcAddress(library, "tav_version");
    if (version == NULL)
        return 1;
    printf("tav %s\n", version());
    if (argc == 3) {
        TextFunction libraries = (TextFunction)(void (*)(void))GetProcAddress(library, "tav_usb_libraries");
        TextFunction problem = (TextFunction)(void (*)(void))GetProcAddress(library, "tav_usb_problem");
        if (libraries == NULL || problem == NULL)
            return 1;
        printf("libraries: %s\n", libraries());
        printf("problem: %s\n", problem() != NULL ? problem() : "none");
    }
    return 0;
}
