// Cost of the tracked allocator against the plain heap: MEMORY_allocate +
// MEMORY_deallocate pairs against malloc + free pairs of the same sizes,
// measured in the same run, at check level 1 (the default) and 0 (guards).
// Prints "name: ratio" lines (tracked time / plain time; lower is better).
//
// Targets: at most 1.5 at check level 1, at most 3 at level 0.
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "memory.h"

namespace {

const int32_t SIZES[] = {16, 64, 256, 1024, 4096, 16384, 65536};
const int PAIRS = 2000;  // pairs per timed run: short, so most runs see no interruption
const int ROUNDS = 100;  // timed runs per figure; the fastest counts

double bench_now(void) {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Keeps the compiler from pairing malloc with free and dropping both.
void* volatile bench_sink;

double bench_plain(int32_t size) {
    double start = bench_now();
    for (int i = 0; i < PAIRS; i++) {
        char* block = (char*)malloc((size_t)size);
        block[0] = (char)i;
        bench_sink = block;
        free(block);
    }
    return bench_now() - start;
}

double bench_tracked(int32_t size) {
    double start = bench_now();
    for (int i = 0; i < PAIRS; i++) {
        char* block = (char*)MEMORY_allocate(NULL, size, 0, "bench", QBUG_FILE, __LINE__);
        block[0] = (char)i;
        bench_sink = block;
        MEMORY_deallocate((void**)&block, QBUG_FILE, __LINE__);
    }
    return bench_now() - start;
}

}  // namespace

int main(void) {
    const uint8_t levels[] = {1, 0};
    for (uint8_t level : levels) {
        MEMORY_set_check_level(level);
        if (!MEMORY_initialise()) {
            fprintf(stderr, "memory_bench: MEMORY_initialise failed\n");
            return 1;
        }
        double log_sum = 0.0;
        for (int32_t size : SIZES) {
            double plain = 1e9, tracked = 1e9;
            // Interleaved, so that a slow moment of the machine hits both.
            for (int round = 0; round < ROUNDS; round++) {
                double p = bench_plain(size);
                double t = bench_tracked(size);
                plain = p < plain ? p : plain;
                tracked = t < tracked ? t : tracked;
            }
            double ratio = tracked / plain;
            log_sum += log(ratio);
            printf("memory_level%d_%dB: %.2f\n", (int)level, (int)size, ratio);
        }
        printf("memory_level%d: %.2f\n", (int)level,
               exp(log_sum / (double)(sizeof(SIZES) / sizeof(SIZES[0]))));
        MEMORY_deinitialise();
    }
    return 0;
}
