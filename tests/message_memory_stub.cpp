// Stand-in for the tracked allocator while the library has none: the message
// module's tests and benchmark link the file-access module, which refers to
// the allocator, but never reach it. Any call stops the program loudly.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static void message_memory_stub_called(const char* function) {
    fprintf(stderr, "%s called: the allocator stub cannot serve it\n", function);
    abort();
}

void* MEMORY_allocate(void*, int32_t, uint16_t, const char*, const char*, int32_t) {
    message_memory_stub_called("MEMORY_allocate");
    return NULL;
}
bool MEMORY_deallocate(void**, const char*, int32_t) {
    message_memory_stub_called("MEMORY_deallocate");
    return false;
}
void* MEMORY_reallocate(void*, int32_t) {
    message_memory_stub_called("MEMORY_reallocate");
    return NULL;
}
