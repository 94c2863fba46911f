// The Windows side of the tree copy and removal benchmark; the host side and
// the ratios are in copytree_bench.sh, which runs this program under Wine.
//
//   copytree_bench generate DIR   lays out the benchmark tree in DIR
//   copytree_bench copy SRC DST   CMD_COPY_TREE from SRC into a new DST
//   copytree_bench remove DIR     CMD_REMOVE_TREE of DIR, answered Yes
//   copytree_bench uninstall DIR  the built-in remove script on the game
//                                 directory DIR (its tree in DIR\data)
//
// copy and remove print "seconds: S", the time of the script run alone.
// The scripts run with the installer's own host (texts and status report),
// without its window.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "COPYFLST.h"
#include "memory.h"

static int32_t answer_yes(const char* text, const char* caption, uint32_t type) {
    (void)caption;
    if ((type & MB_TYPEMASK) != MB_YESNO) {
        fprintf(stderr, "copytree_bench: %s\n", text);  // a copy failed
        return IDOK;
    }
    return IDYES;
}

// About 2,000 files and 300 MB in 20 directories of 4 subdirectories each:
// nine in ten files small (1 to 64 KB), most of the rest 128 KB to 1.25 MB,
// one in a hundred 4 to 8 MB.
static int generate(const char* root) {
    const int32_t files = 2000;
    uint32_t state = 2463534242u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    static char block[1 << 20];
    for (size_t index = 0; index < sizeof block; index++) {
        block[index] = (char)next();
    }
    CreateDirectoryA(root, NULL);
    long long total = 0;
    char path[MAX_PATH];
    for (int32_t file = 0; file < files; file++) {
        int32_t top = file % 20;
        int32_t sub = (file / 20) % 5;  // 0: directly in the top directory
        snprintf(path, sizeof path, "%s\\dir%02d", root, top);
        CreateDirectoryA(path, NULL);
        if (sub > 0) {
            snprintf(path, sizeof path, "%s\\dir%02d\\sub%d", root, top, sub);
            CreateDirectoryA(path, NULL);
        }
        uint32_t kind = file % 100;
        uint32_t size = kind < 90   ? 1024 + next() % (63 * 1024)
                        : kind < 99 ? 128 * 1024 + next() % (1152 * 1024)
                                    : 4 * 1024 * 1024 + next() % (4 * 1024 * 1024);
        size_t length = strlen(path);
        snprintf(path + length, sizeof path - length, "\\file%04d.dat", (int)file);
        FILE* out = fopen(path, "wb");
        if (out == NULL) {
            fprintf(stderr, "copytree_bench: cannot write %s\n", path);
            return 1;
        }
        for (uint32_t written = 0; written < size;) {
            uint32_t chunk =
                size - written < sizeof block ? size - written : (uint32_t)sizeof block;
            uint32_t offset = next() % 4096;
            if (chunk > sizeof block - offset) {
                chunk = (uint32_t)sizeof block - offset;
            }
            fwrite(block + offset, 1, chunk, out);
            written += chunk;
        }
        fclose(out);
        total += size;
    }
    printf("files: %d\nbytes: %lld\n", (int)files, total);
    return 0;
}

static double seconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

// Runs script with destination as "<DST>" (and as "<STARTMENU>" when
// with_start_menu) and prints the time of the run alone.
static int run_timed(const SCRIPT_RECORD* script, const char* source, const char* destination,
                     bool with_start_menu) {
    char source_path[MAX_PATH] = "";
    char destination_path[MAX_PATH] = "";
    if (source != NULL) {
        GetFullPathNameA(source, sizeof source_path, source_path, NULL);
    }
    GetFullPathNameA(destination, sizeof destination_path, destination_path, NULL);
    MEMORY_initialise();
    script_message_box = answer_yes;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    bool complete = run_script(script, source != NULL ? source_path : NULL, destination_path,
                               with_start_menu ? destination_path : NULL, 0, 0);
    double seconds = seconds_since(start);
    MEMORY_deinitialise();
    printf("seconds: %.4f\n", seconds);
    return complete ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "generate") == 0) {
        return generate(argv[2]);
    }
    if (argc == 4 && strcmp(argv[1], "copy") == 0) {
        static const SCRIPT_RECORD copy[] = {{CMD_COPY_TREE, "<SRC>", "<DST>"},
                                             {CMD_END, NULL, NULL}};
        CreateDirectoryA(argv[3], NULL);
        return run_timed(copy, argv[2], argv[3], true);
    }
    if (argc == 3 && strcmp(argv[1], "remove") == 0) {
        static const SCRIPT_RECORD remove[] = {{CMD_REMOVE_TREE, NULL, "<DST>"},
                                               {CMD_END, NULL, NULL}};
        return run_timed(remove, NULL, argv[2], true);
    }
    if (argc == 3 && strcmp(argv[1], "uninstall") == 0) {
        // No Start-menu folder: the script leaves that record out.
        return run_timed(remove_script, NULL, argv[2], false);
    }
    fprintf(stderr,
            "usage: copytree_bench generate DIR | copy SRC DST | remove DIR | uninstall DIR\n");
    return 2;
}
