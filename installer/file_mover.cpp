// The file mover of the relocation. A file moves by rename where it can;
// across drives it is copied whole to a partial name first, and the source
// goes only when the copy stands under its final name.
#include "file_mover.h"

#include "installer.h"

#include <string.h>

// A copy is written under this name beside its destination and renamed once
// it is whole. The name is fixed per file, so that the copy of a run killed
// in the middle is replaced by the next run's.
#define INSTALL_PARTIAL_SUFFIX ".partial"
#define INSTALL_COPY_CHUNK     (1024 * 1024)

// Copies the open file in to partial (replacing what an earlier run left
// there), with its times, and flushes it to the disk. False, with partial
// deleted again, when any step fails.
static bool copy_whole(HANDLE in, const WIN32_FILE_ATTRIBUTE_DATA* information,
                       const char* partial) {
    HANDLE out = CreateFileA(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (out == INVALID_HANDLE_VALUE) return false;
    static char chunk[INSTALL_COPY_CHUNK];
    bool copied = true;
    for (;;) {
        DWORD got = 0;
        DWORD written = 0;
        if (!ReadFile(in, chunk, sizeof chunk, &got, NULL)) {
            copied = false;
            break;
        }
        if (got == 0) break;
        if (!WriteFile(out, chunk, got, &written, NULL) || written != got) {
            copied = false;
            break;
        }
    }
    copied = copied &&
             SetFileTime(out, &information->ftCreationTime, &information->ftLastAccessTime,
                         &information->ftLastWriteTime) &&
             FlushFileBuffers(out);
    CloseHandle(out);
    if (!copied) DeleteFileA(partial);
    return copied;
}

// Set when a rename of this pass failed because the file would change
// drives: every further file of the pass is copied without trying.
static bool pass_changes_drive;

void start_move_pass(void) { pass_changes_drive = false; }

void move_file(const char* source, const char* destination) {
    if (!pass_changes_drive) {
        if (MoveFileExA(source, destination, 0)) return;
        if (GetLastError() != ERROR_NOT_SAME_DEVICE) return;
        pass_changes_drive = true;
    }
    char partial[INSTALL_PATH_SIZE];
    if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES ||
        !format_path(partial, sizeof partial, "%s" INSTALL_PARTIAL_SUFFIX, destination))
        return;
    HANDLE in =
        CreateFileA(source, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE) return;
    // Attributes and times by name, once the file is held and nobody can
    // change them: the query by handle asks for the volume as well, which
    // costs more than the copy of a small file.
    WIN32_FILE_ATTRIBUTE_DATA information;
    bool copied = GetFileAttributesExA(source, GetFileExInfoStandard, &information) &&
                  copy_whole(in, &information, partial);
    CloseHandle(in);
    if (!copied) return;
    // Without MOVEFILE_REPLACE_EXISTING: a destination that appeared
    // meanwhile stays, and so does the source.
    if (!MoveFileExA(partial, destination, 0)) {
        DeleteFileA(partial);
        return;
    }
    // Only attributes that keep a file from being deleted are taken off the
    // source, and put back when it stays all the same.
    const DWORD attributes = information.dwFileAttributes;
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    bool made_plain = (attributes & blocking) && SetFileAttributesA(source, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(source)) {
        DeleteFileA(destination);
        if (made_plain) SetFileAttributesA(source, attributes);
        return;
    }
    // The copy takes the source's attributes, set only where it lacks them.
    const DWORD wanted = attributes & ~FILE_ATTRIBUTE_DIRECTORY;
    if (attributes != FILE_ATTRIBUTE_NORMAL && GetFileAttributesA(destination) != wanted)
        SetFileAttributesA(destination, wanted);
}
