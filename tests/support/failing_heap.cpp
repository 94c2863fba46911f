#include "failing_heap.h"

#include <stddef.h>
#include <string.h>

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_realloc(void* block, size_t size);
extern "C" void __real_free(void* block);

static int32_t countdown = -1, outstanding = 0;
static bool has_failed = false;

void FAILING_HEAP_fail_after(int32_t successes) {
    countdown = successes;
    has_failed = false;
    if (successes >= 0) outstanding = 0;
}

bool FAILING_HEAP_failed(void) { return has_failed; }
int32_t FAILING_HEAP_outstanding(void) { return outstanding; }

// True when this call is the one to fail.
static bool should_fail(void) {
    if (countdown < 0 || countdown-- > 0) return false;
    return has_failed = true;
}

extern "C" void* __wrap_malloc(size_t size) {
    void* block = should_fail() ? NULL : __real_malloc(size);
    if (block != NULL) outstanding++;
    return block;
}

extern "C" void* __wrap_realloc(void* block, size_t size) {
    if (should_fail()) return NULL;
    void* moved = __real_realloc(block, size);
    if (block == NULL && moved != NULL) outstanding++;
    if (block != NULL && size == 0) outstanding--;  // realloc(block, 0) frees it
    return moved;
}

extern "C" void __wrap_free(void* block) {
    if (block != NULL) outstanding--;
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
