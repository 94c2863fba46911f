// The platform's limit for copying a tree: the fewest Win32 calls that walk
// a tree and copy it, the baseline of the tree copy and relocation
// benchmarks. It walks with FindFirstFileA/FindNextFileA, creates each
// directory, and copies each file with CreateFileA, ReadFile and WriteFile
// through one buffer of CHUNK bytes; with "move" it deletes each source file
// once its copy is closed. No status, no checks beyond the calls' results.
//
//   minimal_copier SOURCE TARGET CHUNK [move]
//
// Prints "files: N" and "seconds: S", the walk and copy alone (the buffer is
// had before the clock starts). Exits 1 when anything failed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_timing.h"

static char* copier_buffer;
static DWORD copier_chunk;
static bool copier_move;
static long copier_files;

static bool copy_file(const char* source, const char* target) {
    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    if (in == INVALID_HANDLE_VALUE) return false;
    HANDLE out =
        CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return false;
    }
    bool copied = true;
    for (;;) {
        DWORD got = 0;
        DWORD written = 0;
        if (!ReadFile(in, copier_buffer, copier_chunk, &got, NULL)) {
            copied = false;
            break;
        }
        if (got == 0) break;
        if (!WriteFile(out, copier_buffer, got, &written, NULL) || written != got) {
            copied = false;
            break;
        }
    }
    CloseHandle(out);
    CloseHandle(in);
    if (copied && copier_move) copied = DeleteFileA(source) != FALSE;
    copier_files++;
    return copied;
}

// Joins directory and name into path (MAX_PATH bytes); false when it does not fit.
static bool join(char* path, const char* directory, const char* name) {
    int length = snprintf(path, MAX_PATH, "%s\\%s", directory, name);
    return length > 0 && length < MAX_PATH;
}

static bool copy_tree(const char* source, const char* target) {
    CreateDirectoryA(target, NULL);
    char pattern[MAX_PATH];
    if (!join(pattern, source, "*")) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool whole = true;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        char from[MAX_PATH];
        char to[MAX_PATH];
        if (!join(from, source, found.cFileName) || !join(to, target, found.cFileName)) {
            whole = false;
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            whole = copy_tree(from, to) && whole;
        else
            whole = copy_file(from, to) && whole;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return whole;
}

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5 || (argc == 5 && strcmp(argv[4], "move") != 0) || atol(argv[3]) <= 0) {
        fprintf(stderr, "usage: minimal_copier SOURCE TARGET CHUNK [move]\n");
        return 2;
    }
    copier_chunk = (DWORD)atol(argv[3]);
    copier_move = argc == 5;
    copier_buffer = (char*)malloc(copier_chunk);
    if (copier_buffer == NULL) return 1;
    double start = bench_now();
    bool whole = copy_tree(argv[1], argv[2]);
    double seconds = bench_now() - start;
    free(copier_buffer);
    printf("files: %ld\nseconds: %.4f\n", copier_files, seconds);
    if (!whole) fprintf(stderr, "minimal_copier: not every file was copied\n");
    return whole ? 0 : 1;
}
