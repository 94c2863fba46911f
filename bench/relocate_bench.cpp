// One relocation pass of the install flow, timed: every file of the setup
// default directory moved to a target directory by walk_tree and
// relocate_entry, as one polling cycle does. Prints "relocate_seconds: S".
// bench/relocate_bench (run on the host) lays out the tree, measures the
// host's cp -r plus rm -r of the same tree and prints the ratio.
//
//   relocate_bench.exe TARGET
#include <windows.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "install_flow.h"
#include "installer.h"
#include "product.h"
#include "walker.h"

static int count_files(const char* directory) {
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", directory);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            char sub[MAX_PATH];
            snprintf(sub, sizeof sub, "%s\\%s", directory, found.cFileName);
            count += count_files(sub);
        } else {
            count++;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: relocate_bench.exe TARGET\n");
        return 2;
    }
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0,
                         installer_state.program_files_folder) != S_OK)
        return 2;
    // As start-up leaves it: the pass repoints the uninstall entry now and then.
    snprintf(installer_state.product_name, sizeof installer_state.product_name, "%s", PRODUCT_NAME);
    char setup_default[MAX_PATH];
    if (!setup_default_directory(setup_default, sizeof setup_default, false)) return 2;
    int before = count_files(setup_default);
    make_directory_path(argv[1]);
    snprintf(installer_state.relocation_target, sizeof installer_state.relocation_target, "%s",
             argv[1]);
    installer_state.relocation_final_pass = false;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    walk_tree("*.*", setup_default, relocate_entry, WALK_DESCEND);
    QueryPerformanceCounter(&end);

    int left = count_files(setup_default);
    int moved = count_files(argv[1]);
    printf("relocate_files: %d\n", moved);
    printf("relocate_seconds: %.3f\n",
           (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart);
    if (left != 0 || moved != before) {
        fprintf(stderr, "relocate_bench: %d of %d files moved, %d left\n", moved, before, left);
        return 1;
    }
    return 0;
}
