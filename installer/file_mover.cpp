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
static bool copy_whole(HANDLE in, const BY_HANDLE_FILE_INFORMATION* information,
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

void move_file(const char* source, const char* destination) {
    if (MoveFileExA(source, destination, 0)) return;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return;
    char partial[INSTALL_PATH_SIZE];
    if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES ||
        !format_path(partial, sizeof partial, "%s" INSTALL_PARTIAL_SUFFIX, destination))
        return;
    HANDLE in =
        CreateFileA(source, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION information;
    bool copied =
        GetFileInformationByHandle(in, &information) && copy_whole(in, &information, partial);
    CloseHandle(in);
    if (!copied) return;
    // Without MOVEFILE_REPLACE_EXISTING: a destination that appeared
    // meanwhile stays, and so does the source.
    if (!MoveFileExA(partial, destination, 0)) {
        DeleteFileA(partial);
        return;
    }
    SetFileAttributesA(source, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(source)) {
        DeleteFileA(destination);
        SetFileAttributesA(source, information.dwFileAttributes);
        return;
    }
    if (information.dwFileAttributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(destination, information.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
}
