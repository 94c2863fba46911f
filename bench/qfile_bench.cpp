// File access benchmark. Prints "name: value" lines, each a ratio against a
// baseline measured in the same run on the same data, the sides in
// alternating rounds, each side's minimum and median beside it; ratios are
// those of the minima (below 1: faster than the baseline):
//   name_tree_build_vs_walk   the name tree of a 20,000-file structure built
//                             (QFILE_set_search_paths) / the walk of the same
//                             structure alone, with a callback that does nothing
//   tree_resolution_vs_disk   names resolved through that name tree / the same
//                             names resolved through the directories on disk
//   read_file_vs_fread        QFILE_read_file of a 200 MB file (one read) /
//                             one plain fread of it
//   chunked_read_file_vs_fread  the same with a progress function, so in chunks
// Run it in a scratch directory: it makes "qfile_bench_data" there and removes
// it again.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <vector>

#include "bench_timing.h"
#include "memory.h"
#include "qbug.h"
#include "qfile.h"
#include "walker.h"

static const int DIRECTORIES = 20;
static const int FILES_PER_DIRECTORY = 1000;  // 20,000 files
static const int LOOK_UPS = 20000;
static const int ROUNDS = 5;
static const uint32_t BIG_FILE_SIZE = 200u * 1024 * 1024;
static const char ROOT[] = "qfile_bench_data";

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
    double start = bench_now();
    for (int i = 0; i < LOOK_UPS; i++) {
        seed = seed * 1103515245u + 12345u;
        uint32_t pick = (seed >> 8) % (DIRECTORIES * FILES_PER_DIRECTORY);
        snprintf(name, sizeof name, "d%02u\\f%04u", pick / FILES_PER_DIRECTORY,
                 pick % FILES_PER_DIRECTORY);
        if (QFILE_make_full_path(name) == NULL) return -1.0;
    }
    return bench_now() - start;
}

static void walk_nothing(const char* path, int32_t kind) {
    (void)path;
    (void)kind;
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
    // Each round builds the tree from the start, as a program that sets its
    // search path does; the walk alone sees the same directory in the same
    // spelling. One walk first, so that every round finds the listings cached.
    walk_tree("*.*", slot, walk_nothing, WALK_DESCEND);
    std::vector<double> walk, build, disk, tree;
    for (int round = 0; ok && round < ROUNDS; round++) {
        for (int side = 0; ok && side < 2; side++) {
            double start = bench_now();
            if ((side + round) % 2 == 0) {
                walk_tree("*.*", slot, walk_nothing, WALK_DESCEND);
                walk.push_back(bench_now() - start);
            } else {
                ok = QFILE_set_search_paths(1, slot) == 1;
                build.push_back(bench_now() - start);
            }
        }
    }
    for (int round = 0; ok && round < ROUNDS; round++) {
        for (int side = 0; ok && side < 2; side++) {
            bool on_disk = (side + round) % 2 == 0;
            double seconds = resolve_all(on_disk ? 0 : 1);
            ok = seconds > 0.0;
            (on_disk ? disk : tree).push_back(seconds);
        }
    }
    QFILE_deinitialise();
    remove_tree(ROOT);
    if (!ok) {
        fprintf(stderr, "qfile_bench: building or resolution failed\n");
        return false;
    }
    bench_print_rounds("name_tree_walk", walk);
    bench_print_rounds("name_tree_build", build);
    printf("name_tree_build_vs_walk: %.2f\n", bench_minimum(build) / bench_minimum(walk));
    bench_print_rounds("resolution_disk", disk);
    bench_print_rounds("resolution_tree", tree);
    printf("tree_resolution_vs_disk: %.4f\n", bench_minimum(tree) / bench_minimum(disk));
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

    // Rounds of the three, the order turned each round, after one read that
    // warms the cache.
    std::vector<double> plain, whole, in_chunks;
    file = fopen(path, "rb");
    ok = ok && file != NULL && fread(buffer, 1, BIG_FILE_SIZE, file) == BIG_FILE_SIZE;
    if (file != NULL) fclose(file);
    for (int round = 0; ok && round < ROUNDS; round++) {
        for (int side = 0; ok && side < 3; side++) {
            int which = (side + round) % 3;
            if (which == 0) {
                double start = bench_now();
                file = fopen(path, "rb");
                ok = file != NULL && fread(buffer, 1, BIG_FILE_SIZE, file) == BIG_FILE_SIZE;
                if (file != NULL) fclose(file);
                plain.push_back(bench_now() - start);
                continue;
            }
            ok = QFILE_initialise(which == 1 ? NULL : &chunked);
            progress_calls = 0;
            double start = bench_now();
            ok = ok && QFILE_read_file(path, buffer, 0);
            double elapsed = bench_now() - start;
            if (which == 2)
                ok = ok && progress_calls == (int)((BIG_FILE_SIZE + QFILE_DEFAULT_CHUNK_SIZE - 1) /
                                                   QFILE_DEFAULT_CHUNK_SIZE);
            QFILE_deinitialise();
            (which == 1 ? whole : in_chunks).push_back(elapsed);
        }
    }
    free(buffer);
    remove_tree(ROOT);
    if (!ok) {
        fprintf(stderr, "qfile_bench: reading %s failed\n", path);
        return false;
    }
    bench_print_rounds("fread", plain);
    bench_print_rounds("read_file", whole);
    bench_print_rounds("chunked_read_file", in_chunks);
    printf("read_file_vs_fread: %.4f\n", bench_minimum(whole) / bench_minimum(plain));
    printf("chunked_read_file_vs_fread: %.4f\n", bench_minimum(in_chunks) / bench_minimum(plain));
    return true;
}

int main(void) {
    if (!MEMORY_initialise()) return 1;
    bool ok = bench_resolution();
    ok = bench_read() && ok;
    MEMORY_deinitialise();
    return ok ? 0 : 1;
}
