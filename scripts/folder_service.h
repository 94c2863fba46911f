// The shell's folder service: SHGetFolderPathA of "SHFolder.dll", loaded at
// run time. Start-up resolves its folders through it and the interpreter its
// special-folder tokens; both share the one loaded library.
#ifndef FOLDER_SERVICE_H
#define FOLDER_SERVICE_H

#include <windows.h>

typedef HRESULT(WINAPI* FOLDER_PATH_FUNCTION)(HWND owner, int folder, HANDLE token, DWORD flags,
                                              LPSTR path);

// Returns SHGetFolderPathA, or NULL. The first call loads "SHFolder.dll";
// when that fails it runs "start /w ShFolder.exe" (the service's own
// installer, looked for in the current directory) and loads once more. A
// loaded library stays loaded for the life of the process.
FOLDER_PATH_FUNCTION load_folder_path_function(void);

// The library load_folder_path_function loaded, or NULL.
HMODULE folder_service_library(void);

#endif
