// FOOTPRINT: set-up, read-back and wiping of the installer's traces.
#include "footprint.h"

#include "directory_policy.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

bool FOOTPRINT_folder(int csidl, char* path) {
    path[0] = '\0';
    return SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, path) == S_OK;
}

bool FOOTPRINT_setup_default_directory(char* path) {
    char base[MAX_PATH];
    if (!FOOTPRINT_folder(CSIDL_PROGRAM_FILES, base)) return false;
    return snprintf(path, MAX_PATH, SETUP_DEFAULT_FORMAT, base) < MAX_PATH;
}

bool FOOTPRINT_windows_directory(char* path) {
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

static int count_levels(const char* path) {
    int levels = 0;
    for (const char* p = path + 3; *p; p++)
        if (*p == '\\' && p[1] != '\0') levels++;
    return levels + 1;
}

static bool delete_contents(const char* path) {
    char pattern[MAX_PATH * 2];
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool ok = true;
    do {
        if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
        char child[MAX_PATH * 2];
        snprintf(child, sizeof child, "%s\\%s", path, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            ok = FOOTPRINT_remove_link(child) && ok;
            continue;
        }
        SetFileAttributesA(child, FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = delete_contents(child) && RemoveDirectoryA(child) && ok;
        } else {
            ok = DeleteFileA(child) && ok;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return ok;
}

// The host's name of a machine path, or false outside Wine.
static bool host_path(const char* path, char* host, size_t size) {
    typedef char*(CDECL * UNIX_NAME)(LPCWSTR);
    UNIX_NAME unix_name =
        (UNIX_NAME)(void*)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    wchar_t wide[MAX_PATH];
    if (unix_name == NULL || MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0)
        return false;
    char* name = unix_name(wide);
    if (name == NULL) return false;
    bool fits = snprintf(host, size, "%s", name) < (int)size;
    HeapFree(GetProcessHeap(), 0, name);
    return fits;
}

// Runs the host tool Y:\testkit\host\<tool> with two host paths (the first
// may be NULL), its output into the machine file output (NULL: none), and
// waits until done(watched) holds: a host program's handle may be signalled
// before it has done its work.
static bool run_host_tool(const char* tool, const char* first, const char* second,
                          const char* output, bool (*done)(const char*), const char* watched) {
    char command[MAX_PATH * 3];
    if (snprintf(command, sizeof command, "Y:\\testkit\\host\\%s %s%s%s \"%s\"", tool,
                 first != NULL ? "\"" : "", first != NULL ? first : "", first != NULL ? "\"" : "",
                 second) >= (int)sizeof command)
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (output != NULL) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        file =
            CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) return false;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = file;
        startup.hStdError = file;
    }
    PROCESS_INFORMATION process;
    bool started = CreateProcessA(NULL, command, NULL, NULL, output != NULL, 0, NULL, NULL,
                                  &startup, &process) != FALSE;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!started) return false;
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    for (int i = 0; i < 400; i++) {
        if (done(watched)) return true;
        Sleep(25);
    }
    return false;
}

// True once the file has stopped growing for a while and is not empty.
static bool is_complete(const char* path) {
    static DWORD last_size = 0;
    static int stable = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    DWORD size = GetFileAttributesExA(path, GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
    stable = (size == last_size && size > 0) ? stable + 1 : 0;
    last_size = size;
    if (stable < 5) return false;
    stable = 0;
    last_size = 0;
    return true;
}

bool FOOTPRINT_host_tool_output(const char* tool, const char* path, char* output, size_t size) {
    char host[MAX_PATH * 2];
    DWORD length = GetFullPathNameA("host_tool_output.txt", (DWORD)size, output, NULL);
    if (length == 0 || length >= size || !host_path(path, host, sizeof host)) return false;
    return run_host_tool(tool, NULL, host, output, is_complete, output);
}

static bool is_link(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool is_gone(const char* path) {
    // A link whose target is gone has no attributes either: look at the
    // directory listing instead.
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    FindClose(search);
    return false;
}

bool FOOTPRINT_make_link(const char* target, const char* link) {
    char host_target[MAX_PATH * 2], host_link[MAX_PATH * 2];
    if (!host_path(target, host_target, sizeof host_target) ||
        !host_path(link, host_link, sizeof host_link))
        return false;
    return run_host_tool("ln -s", host_target, host_link, NULL, is_link, link);
}

bool FOOTPRINT_remove_link(const char* link) {
    char host_link[MAX_PATH * 2];
    if (!host_path(link, host_link, sizeof host_link)) return false;
    return run_host_tool("rm -f", NULL, host_link, NULL, is_gone, link);
}

bool FOOTPRINT_delete_tree(const char* path) {
    if (path == NULL || strlen(path) < 4 || path[1] != ':' || path[2] != '\\' ||
        strstr(path, "..") != NULL || count_levels(path) < 2)
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FOOTPRINT_remove_link(path);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path) != 0;
    bool ok = delete_contents(path);
    return RemoveDirectoryA(path) && ok;
}

bool FOOTPRINT_make_directories(const char* path) {
    char partial[MAX_PATH * 2];
    size_t length = strlen(path);
    if (length >= sizeof partial) return false;
    for (size_t i = 3; i <= length; i++) {
        if (path[i] == '\\' || path[i] == '\0') {
            memcpy(partial, path, i);
            partial[i] = '\0';
            CreateDirectoryA(partial, NULL);
        }
    }
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FOOTPRINT_write_file(const char* path, const char* contents) {
    FILE* file = fopen(path, "wb");
    if (file == NULL) return false;
    size_t length = strlen(contents);
    bool written = fwrite(contents, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

bool FOOTPRINT_read_file(const char* path, char* contents, int size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL || size <= 0) {
        if (file != NULL) fclose(file);
        return false;
    }
    size_t length = fread(contents, 1, (size_t)size - 1, file);
    contents[length] = '\0';
    fclose(file);
    return true;
}

bool FOOTPRINT_file_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FOOTPRINT_set_value(const char* key, const char* name, const char* value) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) !=
        ERROR_SUCCESS)
        return false;
    LONG result =
        RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool FOOTPRINT_get_value(const char* key, const char* name, char* value, int size) {
    HKEY handle;
    if (size <= 0 || RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, length = (DWORD)size - 1;
    LONG result = RegQueryValueExA(handle, name, NULL, &type, (BYTE*)value, &length);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ) return false;
    value[length < (DWORD)size ? length : (DWORD)size - 1] = '\0';
    return true;
}

bool FOOTPRINT_key_exists(const char* key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

static bool delete_key(const char* key) {
    LONG result = SHDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// Deletes one file, read-only or not; a missing file counts as deleted.
static bool delete_file(const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool FOOTPRINT_reset(void) {
    bool ok = delete_key(PRODUCT_KEY_PARENT);
    ok = delete_key(PRODUCT_UNINSTALL_KEY) && ok;
    char path[MAX_PATH * 2];
    if (FOOTPRINT_setup_default_directory(path)) {
        ok = FOOTPRINT_delete_tree(path) && ok;
        char* last = strrchr(path, '\\');
        *last = '\0';
        RemoveDirectoryA(path);  // "VKQ", when nothing else is in it
    }
    char folder[MAX_PATH];
    if (FOOTPRINT_folder(CSIDL_PROGRAMS, folder)) {
        snprintf(path, sizeof path, "%s\\%s", folder, PRODUCT_NAME);
        ok = FOOTPRINT_delete_tree(path) && ok;
    }
    if (FOOTPRINT_folder(CSIDL_DESKTOPDIRECTORY, folder)) {
        snprintf(path, sizeof path, "%s\\" PRODUCT_GAME_LINK, folder);
        ok = delete_file(path) && ok;
    }
    if (FOOTPRINT_windows_directory(folder)) {
        snprintf(path, sizeof path, PRODUCT_UNINSTALLER_FORMAT, folder, PRODUCT_NAME);
        ok = delete_file(path) && ok;
        snprintf(path, sizeof path, "%s\\dsetup.dll", folder);
        ok = delete_file(path) && ok;
        snprintf(path, sizeof path, "%s\\dsetup32.dll", folder);
        ok = delete_file(path) && ok;
    }
    return ok;
}
