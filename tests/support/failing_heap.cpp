#include "failing_heap.h"

#include <stddef.h>
#include <string.h>

extern "C" {
void* __real_malloc(size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

static int32_t failing_heap_countdown = -1;
static bool failing_heap_has_failed = false;
static int32_t failing_heap_outstanding = 0;

void FAILING_HEAP_fail_after(int32_t successes) {
    failing_heap_countdown = successes;
    failing_heap_has_failed = false;
}

bool FAILING_HEAP_failed(void) { return failing_heap_has_failed; }
int32_t FAILING_HEAP_outstanding(void) { return failing_heap_outstanding; }
void FAILING_HEAP_reset_count(void) { failing_heap_outstanding = 0; }

// True when this call is the one to fail.
static bool failing_heap_should_fail(void) {
    if (failing_heap_countdown < 0) {
        return false;
    }
    if (failing_heap_countdown-- > 0) {
        return false;
    }
    failing_heap_has_failed = true;
    return true;
}

extern "C" void* __wrap_malloc(size_t size) {
    if (failing_heap_should_fail()) {
        return NULL;
    }
    void* block = __real_malloc(size);
    if (block != NULL) {
        failing_heap_outstanding++;
    }
    return block;
}

extern "C" void* __wrap_realloc(void* block, size_t size) {
    if (failing_heap_should_fail()) {
        return NULL;
    }
    void* moved = __real_realloc(block, size);
    if (block == NULL && moved != NULL) {
        failing_heap_outstanding++;
    } else if (block != NULL && size == 0) {
        failing_heap_outstanding--;  // realloc(block, 0) frees it
    }
    return moved;
}

extern "C" void __wrap_free(void* block) {
    if (block != NULL) {
        failing_heap_outstanding--;
    }
    __real_free(block);
}

// The compiler may turn malloc followed by zeroing into calloc, so programs
// linked with -Wl,--wrap=calloc as well have theirs pass through here too.
extern "C" void* __wrap_calloc(size_t count, size_t size) {
    if (size != 0 && count > (size_t)-1 / size) return NULL;
    void* block = __wrap_malloc(count * size);
    if (block != NULL) memset(block, 0, count * size);
    return block;
}
