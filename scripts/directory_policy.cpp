// The install-directory policy. It finds the folders it judges against by
// itself (the shell's folders, the Windows and system directories, the
// 64-bit Program Files folder from the environment), so that it holds the
// same for every caller whatever that caller has resolved.
#include "directory_policy.h"
#include "WINUTILS.h"
#include "paths.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The longest name the flows append to the directory: "\Tarn II.exe" for
// the game's links. Relocated names are checked one by one.
#define DIRECTORY_NAME_RESERVE 12

static const char* const probe_files[] = {"Tarn II.exe", "tnh2main.exe", "mss32.dll"};

// Folders of the system and of the user. Each is refused, and so is every
// folder above one: the game's remove script deletes the files directly in
// its directory, and whatever holds one of these holds the user's files.
struct SPECIAL_FOLDER {
    int csidl;
    HKEY root;          // where the shell keeps the folder's "Shell Folders" value
    const char* value;  // its name there; NULL for a folder without one
};

// A folder with a "Shell Folders" value is taken both from the system's
// default and from that value, read here: asked for the current folder, the
// shell writes that value anew, and the flows' own reading of "Programs"
// must find it as it was.
static const SPECIAL_FOLDER special_folders[] = {
    {CSIDL_WINDOWS, NULL, NULL},
    {CSIDL_SYSTEM, NULL, NULL},
    {CSIDL_SYSTEMX86, NULL, NULL},
    {CSIDL_PROGRAM_FILES, NULL, NULL},
    {CSIDL_PROGRAM_FILESX86, NULL, NULL},
    {CSIDL_PROGRAM_FILES_COMMON, NULL, NULL},
    {CSIDL_PROGRAM_FILES_COMMONX86, NULL, NULL},
    {CSIDL_PROFILE, NULL, NULL},
    {CSIDL_DESKTOPDIRECTORY, HKEY_CURRENT_USER, "Desktop"},
    {CSIDL_PERSONAL, HKEY_CURRENT_USER, "Personal"},
    {CSIDL_MYMUSIC, HKEY_CURRENT_USER, "My Music"},
    {CSIDL_MYPICTURES, HKEY_CURRENT_USER, "My Pictures"},
    {CSIDL_MYVIDEO, HKEY_CURRENT_USER, "My Video"},
    {CSIDL_FAVORITES, HKEY_CURRENT_USER, "Favorites"},
    {CSIDL_STARTMENU, HKEY_CURRENT_USER, "Start Menu"},
    {CSIDL_PROGRAMS, HKEY_CURRENT_USER, "Programs"},
    {CSIDL_STARTUP, HKEY_CURRENT_USER, "Startup"},
    {CSIDL_APPDATA, HKEY_CURRENT_USER, "AppData"},
    {CSIDL_LOCAL_APPDATA, HKEY_CURRENT_USER, "Local AppData"},
    {CSIDL_COMMON_APPDATA, HKEY_LOCAL_MACHINE, "Common AppData"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, HKEY_LOCAL_MACHINE, "Common Desktop"},
    {CSIDL_COMMON_DOCUMENTS, HKEY_LOCAL_MACHINE, "Common Documents"},
    {CSIDL_COMMON_STARTMENU, HKEY_LOCAL_MACHINE, "Common Start Menu"},
    {CSIDL_COMMON_PROGRAMS, HKEY_LOCAL_MACHINE, "Common Programs"},
};

static bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Replaces the longest existing leading part of path (full, without a
// trailing separator) by its long form; the rest, which does not exist yet,
// stays as written. False when the result does not fit.
static bool expand_long_form(char* path, size_t size) {
    size_t cut = strlen(path);
    while (cut > 3) {
        char head[DIRECTORY_PATH_SIZE];
        char expanded[DIRECTORY_PATH_SIZE];
        memcpy(head, path, cut);
        head[cut] = '\0';
        DWORD length = GetLongPathNameA(head, expanded, sizeof expanded);
        if (length > 0 && length < sizeof expanded) {
            char joined[DIRECTORY_PATH_SIZE];
            if (!format_path(joined, sizeof joined, "%s%s", expanded, path + cut)) return false;
            return format_path(path, size, "%s", joined);
        }
        // One level up: the head loses its last component, the tail gains it.
        while (cut > 3 && path[cut - 1] != '\\') cut--;
        if (cut > 3) cut--;
    }
    return true;
}

// Removes trailing separators, dots and blanks, but never the root's own
// backslash.
static void strip_trailing(char* path) {
    size_t length = strlen(path);
    while (length > 3 && (path[length - 1] == '\\' || path[length - 1] == '/' ||
                          path[length - 1] == '.' || path[length - 1] == ' '))
        path[--length] = '\0';
}

bool normalise_directory(const char* path, char* normalised, size_t size) {
    if (size > 0) normalised[0] = '\0';
    if (path == NULL || size == 0) return false;
    size_t length = strnlen(path, DIRECTORY_PATH_SIZE);
    // The typed text itself: a drive, a colon and a backslash, and no "..",
    // which would name some other directory than the one it seems to.
    if (length >= DIRECTORY_PATH_SIZE || length < 3 || !is_letter(path[0]) || path[1] != ':' ||
        path[2] != '\\' || strstr(path, "..") != NULL)
        return false;

    char full[DIRECTORY_PATH_SIZE];
    DWORD full_length = GetFullPathNameA(path, sizeof full, full, NULL);
    if (full_length == 0 || full_length >= sizeof full) return false;
    strip_trailing(full);
    if (!expand_long_form(full, sizeof full)) return false;
    strip_trailing(full);
    return format_path(normalised, size, "%s", full);
}

// The folder's "Shell Folders" value into folder (MAX_PATH bytes); false
// when it cannot be read whole.
static bool shell_folders_value(const SPECIAL_FOLDER* special, char* folder) {
    HKEY key;
    if (RegOpenKeyExA(special->root, WINUTILS_SHELL_FOLDERS_KEY, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = MAX_PATH;
    LONG result = RegQueryValueExA(key, special->value, NULL, &type, (BYTE*)folder, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ && size > 0 &&
           memchr(folder, '\0', size) != NULL;
}

// True when directory is folder or lies above it (both normalised).
static bool is_or_holds(const char* directory, const char* folder) {
    size_t length = strlen(directory);
    if (_strnicmp(folder, directory, length) != 0) return false;
    return folder[length] == '\0' || folder[length] == '\\' || directory[length - 1] == '\\';
}

// True when directory lies inside folder (both normalised).
static bool is_inside(const char* directory, const char* folder) {
    size_t length = strlen(folder);
    return _strnicmp(directory, folder, length) == 0 && directory[length] == '\\';
}

// True when directory is the folder named by path, or lies above it.
static bool names_or_holds(const char* directory, const char* path) {
    char folder[DIRECTORY_PATH_SIZE];
    return normalise_directory(path, folder, sizeof folder) && is_or_holds(directory, folder);
}

static bool is_special(const char* directory) {
    char path[MAX_PATH];
    for (const SPECIAL_FOLDER& special : special_folders) {
        DWORD type = special.value != NULL ? SHGFP_TYPE_DEFAULT : SHGFP_TYPE_CURRENT;
        path[0] = '\0';
        if (SHGetFolderPathA(NULL, special.csidl, NULL, type, path) == S_OK &&
            names_or_holds(directory, path))
            return true;
        if (special.value != NULL && shell_folders_value(&special, path) &&
            names_or_holds(directory, path))
            return true;
    }
    // The 64-bit Program Files folder, which a 32-bit program's shell does
    // not name.
    const char* program_files_64 = getenv("ProgramW6432");
    if (program_files_64 != NULL && names_or_holds(directory, program_files_64)) return true;
    UINT length = GetSystemDirectoryA(path, sizeof path);
    return length > 0 && length < sizeof path && names_or_holds(directory, path);
}

static bool is_windows_directory(const char* directory) {
    char windows[DIRECTORY_PATH_SIZE];
    char normalised[DIRECTORY_PATH_SIZE];
    // Unknown, it cannot be told apart: refused like the directory itself.
    if (!read_windows_directory(windows, sizeof windows) ||
        !normalise_directory(windows, normalised, sizeof normalised))
        return true;
    return lstrcmpiA(directory, normalised) == 0;
}

static bool inside_setup_default(const char* directory) {
    char program_files[MAX_PATH] = "";
    char setup_default[DIRECTORY_PATH_SIZE];
    char normalised[DIRECTORY_PATH_SIZE];
    // Unknown, nothing can be inside it; the special-folder rule still holds.
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, program_files) != S_OK ||
        !format_path(setup_default, sizeof setup_default, SETUP_DEFAULT_FORMAT, program_files) ||
        !normalise_directory(setup_default, normalised, sizeof normalised))
        return false;
    return is_inside(directory, normalised);
}

bool holds_installation(const char* directory) {
    for (const char* name : probe_files) {
        char path[DIRECTORY_PATH_SIZE];
        if (!format_path(path, sizeof path, "%s\\%s", directory, name) || !file_opens(path))
            return false;
    }
    return true;
}

// True when the directory holds no entry at all.
static bool is_empty(const char* directory) {
    char pattern[DIRECTORY_PATH_SIZE];
    if (!format_path(pattern, sizeof pattern, "%s\\*", directory)) return false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool empty = true;
    do {
        const char* name = entry.cFileName;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) empty = false;
    } while (empty && FindNextFileA(search, &entry));
    FindClose(search);
    return empty;
}

int32_t judge_directory(const char* path, uint32_t rules, char* normalised, size_t size) {
    char directory[DIRECTORY_PATH_SIZE];
    if (size > 0) normalised[0] = '\0';
    if (!normalise_directory(path, directory, sizeof directory)) return DIRECTORY_NOT_VALID;
    if (!format_path(normalised, size, "%s", directory)) return DIRECTORY_NOT_VALID;

    size_t length = strlen(directory);
    if (length <= 3 || length + DIRECTORY_NAME_RESERVE >= DIRECTORY_PATH_SIZE ||
        is_windows_directory(directory))
        return DIRECTORY_NOT_VALID;
    if ((rules & DIRECTORY_RULE_SPECIAL) && is_special(directory)) return DIRECTORY_SPECIAL;
    // Relocating from inside the set-up program's own directory would move
    // the game one level deeper into itself with every pass.
    if ((rules & DIRECTORY_RULE_OUTSIDE_SETUP) && inside_setup_default(directory))
        return DIRECTORY_NOT_VALID;

    if (rules & DIRECTORY_RULE_NEW_OR_GAME) {
        DWORD attributes = GetFileAttributesA(directory);
        if (attributes == INVALID_FILE_ATTRIBUTES) return DIRECTORY_ACCEPTED;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DIRECTORY_NOT_VALID;
        if (!is_empty(directory) && !holds_installation(directory)) return DIRECTORY_NOT_EMPTY;
    }
    return DIRECTORY_ACCEPTED;
}
