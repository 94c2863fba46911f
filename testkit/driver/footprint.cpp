// FOOTPRINT: set-up, read-back and wiping of the installer's traces.
#include "footprint.h"

#include "directory_policy.h"
#include "driver.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

std::string FOOTPRINT_host_path(const char* path) {
    typedef char*(CDECL * UNIX_NAME)(LPCWSTR);
    UNIX_NAME unix_name =
        (UNIX_NAME)(void*)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    wchar_t wide[MAX_PATH];
    char* name = unix_name && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)
                     ? unix_name(wide)
                     : NULL;
    std::string host = name != NULL ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return host;
}

// The shell is the host's own, copied into the build directory (drive Y:).
// Its process handle may be signalled before its work is done, so it leaves
// a mark once the command has succeeded, and that is what counts.
bool FOOTPRINT_host(const std::string& command) {
    char mark[64];
    snprintf(mark, sizeof mark, "C:\\host_done_%lu", GetCurrentProcessId());
    DRIVER_start(
        "Y:\\testkit\\host\\sh -c \"" + command + " && : >'" + FOOTPRINT_host_path(mark) + "'\"",
        NULL);
    for (int tries = 0; tries < 400; tries++, Sleep(25))
        if (DeleteFileA(mark)) return true;
    return false;
}

bool FOOTPRINT_make_link(const char* target, const char* link) {
    return FOOTPRINT_host("ln -s '" + FOOTPRINT_host_path(target) + "' '" +
                          FOOTPRINT_host_path(link) + "'");
}

bool FOOTPRINT_remove_link(const char* link) {
    return FOOTPRINT_host("rm -f '" + FOOTPRINT_host_path(link) + "'");
}

bool FOOTPRINT_host_tool_output(const char* tool, const char* path, char* output, size_t size) {
    DWORD length = GetFullPathNameA("host_tool_output.txt", (DWORD)size, output, NULL);
    return length > 0 && length < size &&
           FOOTPRINT_host(std::string(tool) + " '" + FOOTPRINT_host_path(path) + "' >'" +
                          FOOTPRINT_host_path(output) + "' 2>&1");
}

static bool delete_entry(const std::string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FOOTPRINT_remove_link(path.c_str());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
    bool ok = true;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry))
        if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0)
            ok = delete_entry(path + "\\" + entry.cFileName, entry.dwFileAttributes) && ok;
    FindClose(search);
    return RemoveDirectoryA(path.c_str()) && ok;
}

bool FOOTPRINT_delete_tree(const char* path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, sizeof full, full, NULL), attributes;
    int levels = 0;  // names below the drive's root
    for (DWORD i = 2; i + 1 < length; i++) levels += full[i] == '\\';
    if (length < 4 || length >= sizeof full || full[1] != ':' || full[2] != '\\' || levels < 2)
        return false;
    return (attributes = GetFileAttributesA(full)) == INVALID_FILE_ATTRIBUTES ||
           delete_entry(full, attributes);
}

bool FOOTPRINT_make_directories(const char* path) {
    SHCreateDirectoryExA(NULL, path, NULL);
    return PathIsDirectoryA(path) != FALSE;
}

std::string FOOTPRINT_folder(int csidl) {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, path);
    return path;
}

std::string FOOTPRINT_setup_default(void) {
    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, SETUP_DEFAULT_FORMAT,
             FOOTPRINT_folder(CSIDL_PROGRAM_FILES).c_str());
    return path;
}

std::string FOOTPRINT_value(const char* key, const char* name) {
    char value[1024] = "";
    DWORD size = sizeof value - 1, type = 0;
    bool read = SHGetValueA(HKEY_LOCAL_MACHINE, key, name, &type, value, &size) == ERROR_SUCCESS;
    return read && type == REG_SZ ? value : "<missing>";
}

bool FOOTPRINT_set_value(const char* key, const char* name, const char* value) {
    return SHSetValueA(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value, strlen(value) + 1) == 0;
}

bool FOOTPRINT_key_exists(const char* key) {
    HKEY handle;
    bool opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) == ERROR_SUCCESS;
    if (opened) RegCloseKey(handle);
    return opened;
}

bool FOOTPRINT_reset(void) {
    bool ok = true;
    for (const char* key : {PRODUCT_KEY_PARENT, PRODUCT_UNINSTALL_KEY})
        ok = (SHDeleteKeyA(HKEY_LOCAL_MACHINE, key) == 0 || !FOOTPRINT_key_exists(key)) && ok;
    const std::string windows = FOOTPRINT_folder(CSIDL_WINDOWS),
                      setup_default = FOOTPRINT_setup_default();
    for (const std::string& path :
         {setup_default, FOOTPRINT_folder(CSIDL_PROGRAMS) + "\\" PRODUCT_NAME,
          FOOTPRINT_folder(CSIDL_DESKTOPDIRECTORY) + "\\" PRODUCT_GAME_LINK,
          windows + "\\" PRODUCT_NAME " remove.exe", windows + "\\dsetup.dll",
          windows + "\\dsetup32.dll"})
        ok = FOOTPRINT_delete_tree(path.c_str()) && ok;
    // "VKQ", when nothing else is in it.
    RemoveDirectoryA(setup_default.substr(0, setup_default.rfind('\\')).c_str());
    return ok;
}
