// A stand-in for the tracked allocator, linked into the file-access tests and
// benchmark only while the library has no allocator of its own: the same
// calls and the contract the file-access module relies on (initialisation
// required, sizes <= 0 refused, fill 1 zeroes, growth only, release clears
// the variable, leak report at shut-down).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "qbug.h"

struct DOUBLE_BLOCK {
    uint32_t magic;
    int32_t size;
};

static const uint32_t DOUBLE_MAGIC = 0x004D454D;
static bool double_initialised;
static int32_t double_live_blocks;

bool MEMORY_initialise(void) {
    if (double_initialised) {
        QBUG_TRACE("MEMORY_initialise failed: already initialised");
        return false;
    }
    double_initialised = true;
    double_live_blocks = 0;
    return true;
}

bool MEMORY_deinitialise(void) {
    if (!double_initialised) {
        QBUG_TRACE("MEMORY_deinitialise failed: not initialised");
        return false;
    }
    if (double_live_blocks != 0) QBUG_TRACE("MEMORY_deinitialise error: memory leaks detected");
    double_initialised = false;
    return true;
}

void* MEMORY_allocate(void* previous, int32_t size, uint16_t fill, const char* description, const char* file,
                      int32_t line) {
    if (description == NULL) description = "No Description";
    if (!double_initialised) {
        QBUG_retail_trace(QBUG_FILE, __LINE__, "MEMORY_allocate failed (%s, %d): data not initialised", file, line);
        return NULL;
    }
    if (size <= 0) {
        QBUG_retail_trace(QBUG_FILE, __LINE__, "MEMORY_allocate failed (%s, %d): %s size = %d", file, line,
                          description, size);
        return NULL;
    }
    if (previous != NULL) {
        QBUG_retail_trace(QBUG_FILE, __LINE__, "MEMORY_allocate (%s, %d): previous data not freed %s", file, line,
                          description);
    }
    DOUBLE_BLOCK* block = (DOUBLE_BLOCK*)malloc(sizeof(DOUBLE_BLOCK) + (size_t)size);
    if (block == NULL) {
        QBUG_retail_trace(QBUG_FILE, __LINE__, "MEMORY_allocate failed (%s, %d): malloc failed, %s size = %d", file,
                          line, description, size);
        return NULL;
    }
    block->magic = DOUBLE_MAGIC;
    block->size = size;
    if (fill == 1) memset(block + 1, 0, (size_t)size);
    if (fill == 128) memset(block + 1, 0xFF, (size_t)size);
    double_live_blocks++;
    return block + 1;
}

bool MEMORY_deallocate(void** variable, const char* file, int32_t line) {
    if (!double_initialised || variable == NULL || *variable == NULL) {
        QBUG_retail_trace(QBUG_FILE, __LINE__, "MEMORY_deallocate failed (%s, %d)", file, line);
        return false;
    }
    DOUBLE_BLOCK* block = (DOUBLE_BLOCK*)*variable - 1;
    if (block->magic != DOUBLE_MAGIC) return true;  // not one of ours: left alone
    block->magic = 0;
    free(block);
    double_live_blocks--;
    *variable = NULL;
    return true;
}

void* MEMORY_reallocate(void* pointer, int32_t new_size) {
    if (!double_initialised || pointer == NULL) return NULL;
    DOUBLE_BLOCK* block = (DOUBLE_BLOCK*)pointer - 1;
    if (block->magic != DOUBLE_MAGIC) return NULL;
    if (new_size < block->size) return pointer;
    DOUBLE_BLOCK* moved = (DOUBLE_BLOCK*)realloc(block, sizeof(DOUBLE_BLOCK) + (size_t)new_size);
    if (moved == NULL) return NULL;
    moved->size = new_size;
    return moved + 1;
}
