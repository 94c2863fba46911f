// The shell's folder service, loaded once for the whole process.
#include "folder_service.h"

#include <stdlib.h>

static HMODULE folder_library;

FOLDER_PATH_FUNCTION load_folder_path_function(void) {
    if (folder_library == NULL) {
        folder_library = LoadLibraryA("SHFolder.dll");
        if (folder_library == NULL) {
            system("start /w ShFolder.exe");
            folder_library = LoadLibraryA("SHFolder.dll");
            if (folder_library == NULL) return NULL;
        }
    }
    return (FOLDER_PATH_FUNCTION)(void*)GetProcAddress(folder_library, "SHGetFolderPathA");
}

HMODULE folder_service_library(void) { return folder_library; }
