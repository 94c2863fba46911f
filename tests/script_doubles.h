// Local doubles of library modules that have not landed on this branch yet:
// the tracked allocator (records its calls) and the registry writer.
#ifndef SCRIPT_DOUBLES_H
#define SCRIPT_DOUBLES_H

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

struct AllocatorCall {
    bool allocate;
    void* previous;
    int32_t size;
    uint16_t fill;
    std::string description;
    std::string file;
};

static std::vector<AllocatorCall> allocator_calls;
static int32_t allocations_to_refuse;  // the next n allocations give NULL

void* MEMORY_allocate(void* previous, int32_t size, uint16_t fill, const char* description,
                      const char* file, int32_t)
{
    allocator_calls.push_back({true, previous, size, fill, description ? description : "", file ? file : ""});
    if (allocations_to_refuse > 0) {
        allocations_to_refuse--;
        return NULL;
    }
    return malloc((size_t)size);
}

bool MEMORY_deallocate(void** variable, const char* file, int32_t)
{
    allocator_calls.push_back({false, *variable, 0, 0, "", file ? file : ""});
    if (*variable == NULL) {
        return false;
    }
    free(*variable);
    *variable = NULL;
    return true;
}

bool WINUTILS_set_registry_entry(int32_t, const char*, const char*, const char*, const uint32_t*)
{
    return false;
}

#endif
