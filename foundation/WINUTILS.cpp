// WINUTILS: registry access by root selector, shell links, dialogs and the
// message pump.
#include "WINUTILS.h"
#include "qbug.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

// ---- Registry helpers ------------------------------------------------------

#include <stdio.h>
#include <string.h>

// The root keys by selector. HKEY_PERFORMANCE_DATA has no selector.
static const HKEY winutils_root_keys[] = {
    HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
    HKEY_USERS,        HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,
};
#define WINUTILS_ROOT_COUNT ((int32_t)(sizeof winutils_root_keys / sizeof winutils_root_keys[0]))

// The root key of a selector, or NULL outside the table.
static HKEY winutils_root_key(int32_t root) {
    QBUG_ENTER("winutils_root_key");
    HKEY key = (root >= 0 && root < WINUTILS_ROOT_COUNT) ? winutils_root_keys[root] : NULL;
    QBUG_LEAVE("winutils_root_key");
    return key;
}

// A stored string need not carry its terminator, and RegQueryValueExA does
// not promise to add one: terminate it inside the buffer, or refuse a string
// that fills the whole buffer without one.
bool winutils_terminate_registry_text(char* buffer, uint32_t size) {
    QBUG_ENTER("winutils_terminate_registry_text");
    bool terminated = true;
    if (size > WINUTILS_REGISTRY_TEXT_SIZE) {
        terminated = false;
    } else if (size == 0 || buffer[size - 1] != '\0') {
        if (size < WINUTILS_REGISTRY_TEXT_SIZE) {
            buffer[size] = '\0';
        } else {
            terminated = false;
        }
    }
    QBUG_LEAVE("winutils_terminate_registry_text");
    return terminated;
}

bool WINUTILS_set_registry_entry(int32_t root, const char* key, const char* value_name,
                                 const char* text, const uint32_t* number) {
    QBUG_ENTER("WINUTILS_set_registry_entry");
    HKEY root_key = winutils_root_key(root);
    if (root_key == NULL || key == NULL || (text == NULL && number == NULL)) {
        QBUG_LEAVE("WINUTILS_set_registry_entry");
        return false;
    }
    HKEY opened = NULL;
    if (RegCreateKeyA(root_key, key, &opened) != ERROR_SUCCESS || opened == NULL) {
        QBUG_LEAVE("WINUTILS_set_registry_entry");
        return false;
    }
    LONG written;
    if (text != NULL) {
        // The terminator is counted: a REG_SZ stored without it reaches other
        // readers of the value as an unterminated string.
        size_t length = strlen(text);
        if (length >= 0x7FFFFFFFu) {
            RegCloseKey(opened);
            QBUG_LEAVE("WINUTILS_set_registry_entry");
            return false;
        }
        written = RegSetValueExA(opened, value_name, 0, REG_SZ, (const BYTE*)text, (DWORD)length + 1);
    } else {
        DWORD value = *number;
        written = RegSetValueExA(opened, value_name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    }
    if (written != ERROR_SUCCESS || RegFlushKey(opened) != ERROR_SUCCESS) {
        RegCloseKey(opened);
        QBUG_LEAVE("WINUTILS_set_registry_entry");
        return false;
    }
    RegCloseKey(opened);
    QBUG_LEAVE("WINUTILS_set_registry_entry");
    return true;
}

bool WINUTILS_clear_registry_entry(int32_t root, const char* key, const char* subkey,
                                   const char* value_name) {
    QBUG_ENTER("WINUTILS_clear_registry_entry");
    HKEY root_key = winutils_root_key(root);
    char joined[WINUTILS_REGISTRY_PATH_SIZE];
    // An empty subkey would join to "key\", which names the parent itself.
    if (root_key == NULL || key == NULL || subkey == NULL || subkey[0] == '\0') {
        QBUG_LEAVE("WINUTILS_clear_registry_entry");
        return false;
    }
    // A cut path would name another key: refuse it before anything is opened.
    int length = snprintf(joined, sizeof joined, "%s\\%s", key, subkey);
    if (length < 0 || length >= (int)sizeof joined) {
        QBUG_LEAVE("WINUTILS_clear_registry_entry");
        return false;
    }
    HKEY opened = NULL;
    if (value_name == NULL) {
        // The whole entry: the parent must exist; the key is deleted relative
        // to the root. Only a key without subkeys can go.
        if (RegOpenKeyExA(root_key, key, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) {
            QBUG_LEAVE("WINUTILS_clear_registry_entry");
            return false;
        }
        if (RegDeleteKeyA(root_key, joined) != ERROR_SUCCESS) {
            RegCloseKey(opened);
            QBUG_LEAVE("WINUTILS_clear_registry_entry");
            return false;
        }
        RegCloseKey(opened);
        QBUG_LEAVE("WINUTILS_clear_registry_entry");
        return true;
    }
    if (RegOpenKeyExA(root_key, joined, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) {
        QBUG_LEAVE("WINUTILS_clear_registry_entry");
        return false;
    }
    if (RegDeleteValueA(opened, value_name) != ERROR_SUCCESS || RegFlushKey(opened) != ERROR_SUCCESS) {
        RegCloseKey(opened);
        QBUG_LEAVE("WINUTILS_clear_registry_entry");
        return false;
    }
    RegCloseKey(opened);
    QBUG_LEAVE("WINUTILS_clear_registry_entry");
    return true;
}

bool WINUTILS_get_registry_entry(int32_t root, const char* key, const char* value_name,
                                 char* buffer) {
    QBUG_ENTER("WINUTILS_get_registry_entry");
    HKEY root_key = winutils_root_key(root);
    if (buffer == NULL) {
        QBUG_LEAVE("WINUTILS_get_registry_entry");
        return false;
    }
    buffer[0] = '\0';
    HKEY opened = NULL;
    if (root_key == NULL || key == NULL || RegOpenKeyA(root_key, key, &opened) != ERROR_SUCCESS ||
        opened == NULL) {
        QBUG_LEAVE("WINUTILS_get_registry_entry");
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = WINUTILS_REGISTRY_TEXT_SIZE;
    LONG read = RegQueryValueExA(opened, value_name, NULL, &type, (BYTE*)buffer, &size);
    bool valid = false;
    if (read == ERROR_SUCCESS && size <= WINUTILS_REGISTRY_TEXT_SIZE) {
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            int32_t number;
            memcpy(&number, buffer, sizeof number);
            snprintf(buffer, WINUTILS_REGISTRY_TEXT_SIZE, "%d", (int)number);
            valid = true;
        } else if (type == REG_SZ) {
            valid = winutils_terminate_registry_text(buffer, size);
        }
    }
    if (!valid || RegFlushKey(opened) != ERROR_SUCCESS) {
        buffer[0] = '\0';
        RegCloseKey(opened);
        QBUG_LEAVE("WINUTILS_get_registry_entry");
        return false;
    }
    RegCloseKey(opened);
    QBUG_LEAVE("WINUTILS_get_registry_entry");
    return true;
}

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

#define WINUTILS_SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
// The registry's text and a folder name of up to MAX_PATH characters.
#define WINUTILS_FOLDER_PATH_SIZE (WINUTILS_REGISTRY_TEXT_SIZE + 1 + MAX_PATH)

bool WINUTILS_create_start_menu_folder(const char* name)
{
    QBUG_ENTER("WINUTILS_create_start_menu");
    char path[WINUTILS_FOLDER_PATH_SIZE];
    if (name == NULL || !WINUTILS_get_registry_entry(1, WINUTILS_SHELL_FOLDERS_KEY, "Programs", path)) {
        QBUG_TRACE("WINUTILS_create_start_menu_folder: no Programs folder");
        QBUG_LEAVE("WINUTILS_create_start_menu");
        return false;
    }
    size_t length = strlen(path);
    int added = snprintf(path + length, sizeof(path) - length, "\\%s", name);
    if (added < 0 || (size_t)added >= sizeof(path) - length) {
        QBUG_TRACE("WINUTILS_create_start_menu_folder: folder path does not fit: %s", name);
        QBUG_LEAVE("WINUTILS_create_start_menu");
        return false;
    }
    CreateDirectoryA(path, NULL);
    QBUG_LEAVE("WINUTILS_create_start_menu");
    return true;
}

// ---- Dialog utilities ------------------------------------------------------
