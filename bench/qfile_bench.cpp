// File access benchmark. Prints "name: value" lines, each a ratio against a
// baseline measured in the same run on the same data:
//   tree_resolution_vs_disk   100,000 names resolved through the name tree of
//                             a 50,000-file structure / the same names resolved
//                             through the directories on disk
//   read_file_vs_fread        QFILE_read_file of a 200 MB file (one read) /
//                             one plain fread of it
//   chunked_read_file_vs_fread  the same with a progress function, so in chunks
// Run it in a scratch directory: it makes "qfile_bench_data" there and removes
// it again. Below 1 means faster than the baseline.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "memory.h"
#include "qbug.h"
#include "qfile.h"

static const int DIRECTORIES = 50;
static const int FILES_PER_DIRECTORY = 1000;  // 50,000 files
static const int LOOK_UPS = 100000;
static const uint32_t BIG_FILE_SIZE = 200u * 1024 * 1024;
static const char ROOT[] = "qfile_bench_data";

static double now_seconds(void) {
    static LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

static void remove_tree(const char* path) {
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA entry;
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
            char child[MAX_PATH];
            snprintf(child, sizeof child, "%s\\%s", path, entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileA(child);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path);
}

static bool make_structure(void) {
    char path[MAX_PATH];
    if (!CreateDirectoryA(ROOT, NULL)) return false;
    for (int d = 0; d < DIRECTORIES; d++) {
        snprintf(path, sizeof path, "%s\\d%02d", ROOT, d);
        if (!CreateDirectoryA(path, NULL)) return false;
        for (int f = 0; f < FILES_PER_DIRECTORY; f++) {
            snprintf(path, sizeof path, "%s\\d%02d\\f%04d.dat", ROOT, d, f);
            HANDLE file =
                CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file == INVALID_HANDLE_VALUE) return false;
            CloseHandle(file);
        }
    }
    return true;
}

// Resolves the same pseudo-random names with the given setting; returns the
// seconds taken, or a negative value when a name was not found.
static double resolve_all(int32_t use_tree) {
    QFILE_set_use_tree_to_find_files(use_tree);
    char name[32];
    uint32_t seed = 2024;
    double start = now_seconds();
    for (int i = 0; i < LOOK_UPS; i++) {
        seed = seed * 1103515245u + 12345u;
        uint32_t pick = (seed >> 8) % (DIRECTORIES * FILES_PER_DIRECTORY);
        snprintf(name, sizeof name, "d%02u\\f%04u", pick / FILES_PER_DIRECTORY,
                 pick % FILES_PER_DIRECTORY);
        if (QFILE_make_full_path(name) == NULL) return -1.0;
    }
    return now_seconds() - start;
}

static bool bench_resolution(void) {
    remove_tree(ROOT);
    if (!make_structure()) {
        fprintf(stderr, "qfile_bench: cannot make %s\n", ROOT);
        return false;
    }
    bool ok = QFILE_initialise(NULL) && QFILE_set_extension(".dat");
    char slot[MAX_PATH];
    snprintf(slot, sizeof slot, "%s\\", ROOT);
    double build_start = now_seconds();
    ok = ok && QFILE_set_search_paths(1, slot) == 1;
    double build = now_seconds() - build_start;
    double disk = ok ? resolve_all(0) : -1.0;
    double tree = ok ? resolve_all(1) : -1.0;
    QFILE_deinitialise();
    remove_tree(ROOT);
    if (disk <= 0.0 || tree <= 0.0) {
        fprintf(stderr, "qfile_bench: resolution failed\n");
        return false;
    }
    printf("tree_resolution_vs_disk: %.4f\n", tree / disk);
    // The one-off walk that makes the tree, against the disk look-ups it saves.
    printf("tree_build_vs_disk_resolution: %.4f\n", build / disk);
    return true;
}

static int progress_calls;
static void count_progress(void) { progress_calls++; }

static bool bench_read(void) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, ".\\%s\\big.bin", ROOT);  // explicit: found on disk as given
    remove_tree(ROOT);
    CreateDirectoryA(ROOT, NULL);
    uint8_t* buffer = (uint8_t*)malloc(BIG_FILE_SIZE);
    if (buffer == NULL) return false;
    for (uint32_t i = 0; i < BIG_FILE_SIZE; i++) buffer[i] = (uint8_t)(i * 7 + (i >> 13));
    FILE* file = fopen(path, "wb");
    bool ok = file != NULL && fwrite(buffer, 1, BIG_FILE_SIZE, file) == BIG_FILE_SIZE;
    if (file != NULL) fclose(file);

    QFILE_SETTINGS chunked;
    memset(&chunked, 0, sizeof chunked);
    chunked.search_path_count = QFILE_DEFAULT_SEARCH_PATH_COUNT;
    chunked.initial_tree_capacity = QFILE_DEFAULT_TREE_CAPACITY;
    chunked.tree_growth_step = QFILE_DEFAULT_TREE_GROWTH;
    chunked.chunk_size = QFILE_DEFAULT_CHUNK_SIZE;
    chunked.progress = count_progress;

    // Best of three of each, alternating, after one read that warms the cache.
    double plain = 1e9, whole = 1e9, in_chunks = 1e9;
    for (int round = 0; ok && round < 4; round++) {
        double start = now_seconds();
        file = fopen(path, "rb");
        ok = file != NULL && fread(buffer, 1, BIG_FILE_SIZE, file) == BIG_FILE_SIZE;
        if (file != NULL) fclose(file);
        double elapsed = now_seconds() - start;
        if (round > 0 && elapsed < plain) plain = elapsed;

        ok = ok && QFILE_initialise(NULL);
        start = now_seconds();
        ok = ok && QFILE_read_file(path, buffer, 0);
        elapsed = now_seconds() - start;
        QFILE_deinitialise();
        if (round > 0 && elapsed < whole) whole = elapsed;

        ok = ok && QFILE_initialise(&chunked);
        progress_calls = 0;
        start = now_seconds();
        ok = ok && QFILE_read_file(path, buffer, 0);
        elapsed = now_seconds() - start;
        ok = ok && progress_calls == (int)((BIG_FILE_SIZE + QFILE_DEFAULT_CHUNK_SIZE - 1) /
                                           QFILE_DEFAULT_CHUNK_SIZE);
        QFILE_deinitialise();
        if (round > 0 && elapsed < in_chunks) in_chunks = elapsed;
    }
    free(buffer);
    remove_tree(ROOT);
    if (!ok) {
        fprintf(stderr, "qfile_bench: reading %s failed\n", path);
        return false;
    }
    printf("read_file_vs_fread: %.4f\n", whole / plain);
    printf("chunked_read_file_vs_fread: %.4f\n", in_chunks / plain);
    return true;
}

int main(void) {
    if (!MEMORY_initialise()) return 1;
    bool ok = bench_resolution();
    ok = bench_read() && ok;
    MEMORY_deinitialise();
    return ok ? 0 : 1;
}
