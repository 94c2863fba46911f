// WINUTILS: registry access by root selector, shell links, dialogs and the
// message pump.
#include "WINUTILS.h"
#include "qbug.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

// ---- Registry helpers ------------------------------------------------------

// ---- Shell links and Start-menu folders -----------------------------------

#define WINUTILS_LINK_PATH_SIZE 260  // wide characters, terminator included

bool WINUTILS_create_file_link(const char* target, const char* link_file, const char* description,
                               const char* working_directory, const char* arguments)
{
    QBUG_ENTER("WINUTILS_create_file_link");
    if (target == NULL || link_file == NULL) {
        QBUG_TRACE("WINUTILS_create_file_link: no target or no link file");
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    WCHAR wide_path[WINUTILS_LINK_PATH_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, link_file, -1, wide_path, WINUTILS_LINK_PATH_SIZE) == 0) {
        QBUG_TRACE("WINUTILS_create_file_link: link path does not fit: %s", link_file);
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    IShellLinkA* link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      (void**)&link);
    if (FAILED(result) || link == NULL) {
        QBUG_TRACE("WINUTILS_create_file_link: no shell link object (0x%08lx)", (unsigned long)result);
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    // The link's fields are taken as given; only the save tells whether a
    // link file exists afterwards.
    link->SetPath(target);
    link->SetDescription(description != NULL ? description : "");
    link->SetArguments(arguments != NULL ? arguments : "");
    link->SetWorkingDirectory(working_directory != NULL ? working_directory : "");

    bool saved = false;
    IPersistFile* file = NULL;
    result = link->QueryInterface(IID_IPersistFile, (void**)&file);
    if (SUCCEEDED(result) && file != NULL) {
        result = file->Save(wide_path, TRUE);
        saved = SUCCEEDED(result);
        file->Release();
    }
    link->Release();
    if (!saved) {
        QBUG_TRACE("WINUTILS_create_file_link: link not saved (0x%08lx): %s", (unsigned long)result,
                   link_file);
    }
    QBUG_LEAVE("WINUTILS_create_file_link");
    return saved;
}

// ---- Dialog utilities ------------------------------------------------------
