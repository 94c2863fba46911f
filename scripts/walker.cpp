// The directory tree walker and the drive classes.
//
// Order of reports inside one directory: every entry matching the pattern
// first (files and directories mixed, in listing order), then each
// subdirectory walked completely, in listing order. The copy and delete
// commands rely on a directory being reported before anything inside it.
// Links (reparse points) are reported and never entered.
#include "walker.h"

#include <stdio.h>
#include <string.h>

#include <windows.h>

#define WALK_PATH_SIZE 1024

// Set by abort_walk; cleared by every walk_tree and walk_drives.
static volatile uint8_t walk_aborted = 0;

void abort_walk(void) { walk_aborted = 1; }

static bool walk_is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The kind of a listed entry. A reparse point is a link whatever else it
// is: listing it would list what lies behind it (a host symbolic link under
// Wine is a directory with FILE_ATTRIBUTE_REPARSE_POINT).
static int32_t walk_kind(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WALK_LINK;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? WALK_DIRECTORY : WALK_FILE;
}

// The entry being reported, for walk_entry; NULL between reports.
static const WALK_ENTRY* walk_current_entry = NULL;

const WALK_ENTRY* walk_entry(void) { return walk_current_entry; }

// Reports the listed entry at path to callback, with its record at hand for
// walk_entry while the callback runs (a nested walk's reports come and go
// inside it).
static void walk_report(WALK_CALLBACK callback, const char* path, const WIN32_FIND_DATAA* found) {
    WALK_ENTRY entry = {found->dwFileAttributes,
                        ((uint64_t)found->nFileSizeHigh << 32) | found->nFileSizeLow};
    const WALK_ENTRY* outer = walk_current_entry;
    walk_current_entry = &entry;
    callback(path, walk_kind(found->dwFileAttributes));
    walk_current_entry = outer;
}

// Joins directory and name with one backslash into path. False when the
// result would not fit: such an entry is passed over, never cut.
static bool walk_join(char* path, const char* directory, const char* name) {
    int length = snprintf(path, WALK_PATH_SIZE, "%s\\%s", directory, name);
    return length >= 0 && length < WALK_PATH_SIZE;
}

bool walk_can_list(const char* directory) {
    char path[WALK_PATH_SIZE];
    if (!walk_join(path, directory, "*.*")) return false;
    // Every ANSI call takes MAX_PATH - 1 characters; beyond that the platform
    // decides (Wine takes one more), so ask it.
    if (strlen(path) < MAX_PATH) return true;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return true;
    }
    return GetLastError() != ERROR_FILENAME_EXCED_RANGE;
}

void walk_directory(const char* pattern, const char* directory, WALK_CALLBACK callback,
                    uint32_t flags) {
    char path[WALK_PATH_SIZE];
    WIN32_FIND_DATAA entry;
    HANDLE search = INVALID_HANDLE_VALUE;

    if (walk_aborted) return;

    // First listing: the entries matching the pattern.
    for (bool first = true;; first = false) {
        callback(NULL, WALK_TICK);
        bool found;
        if (first) {
            found = walk_join(path, directory, pattern) &&
                    (search = FindFirstFileA(path, &entry)) != INVALID_HANDLE_VALUE;
        } else {
            found = FindNextFileA(search, &entry) != FALSE;
        }
        if (found && !walk_is_dot_entry(entry.cFileName) &&
            walk_join(path, directory, entry.cFileName)) {
            walk_report(callback, path, &entry);
        }
        if (!found) break;
        if (walk_aborted) {
            FindClose(search);
            return;
        }
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    search = INVALID_HANDLE_VALUE;

    if (!(flags & WALK_DESCEND) || walk_aborted) return;

    // Second listing: every subdirectory, whatever the pattern.
    for (bool first = true;; first = false) {
        callback(NULL, WALK_TICK);
        bool found;
        if (first) {
            found = walk_join(path, directory, "*.*") &&
                    (search = FindFirstFileA(path, &entry)) != INVALID_HANDLE_VALUE;
        } else {
            found = FindNextFileA(search, &entry) != FALSE;
        }
        if (!found) break;
        if (walk_kind(entry.dwFileAttributes) == WALK_DIRECTORY &&
            !walk_is_dot_entry(entry.cFileName) && walk_join(path, directory, entry.cFileName)) {
            walk_directory(pattern, path, callback, flags);
        }
        if (walk_aborted) break;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

bool walk_tree(const char* pattern, const char* directory, WALK_CALLBACK callback, uint32_t flags) {
    walk_aborted = 0;
    walk_directory(pattern, directory, callback, flags);
    return walk_aborted != 1;
}

int32_t drive_class(char letter) {
    char root[4];
    snprintf(root, sizeof root, "%c:\\", letter);
    switch (GetDriveTypeA(root)) {
    case DRIVE_CDROM: return DRIVE_CLASS_CDROM;
    case DRIVE_FIXED: return DRIVE_CLASS_FIXED;
    case DRIVE_REMOTE: return DRIVE_CLASS_NETWORK;
    default: return 0;
    }
}

bool walk_drives(const char* pattern, int32_t mask, WALK_CALLBACK callback) {
    walk_aborted = 0;
    for (char letter = 'A'; letter <= 'Z'; letter++) {
        if (drive_class(letter) & mask) {
            char root[3] = {letter, ':', '\0'};
            walk_directory(pattern, root, callback, WALK_DESCEND);
        }
    }
    return true;
}
