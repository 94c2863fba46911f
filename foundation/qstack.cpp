// qstack: a stack of fixed-size elements (see qstack.h).
#include "qstack.h"

#include <stdlib.h>
#include <string.h>

#include "qbug.h"

// Bytes of storage for count elements, or -1 when that is negative or the
// whole allocation (record + storage) would not fit in 32 bits: a wrapped
// size would give a block smaller than the capacity the record claims.
static int64_t qstack_storage_size(int32_t count, uint32_t element_size) {
    QBUG_ENTER("qstack_storage_size");
    int64_t bytes = (int64_t)count * (int64_t)element_size;
    if (count < 0 || bytes > (int64_t)(UINT32_MAX - sizeof(QSTACK))) {
        QBUG_LEAVE("qstack_storage_size");
        return -1;
    }
    QBUG_LEAVE("qstack_storage_size");
    return bytes;
}

QSTACK* QSTACK_allocate(int32_t count, uint32_t element_size) {
    QBUG_ENTER("QSTACK_allocate");
    int64_t bytes = qstack_storage_size(count, element_size);
    QSTACK* stack = NULL;
    if (bytes >= 0) {
        stack = (QSTACK*)malloc(sizeof(QSTACK) + (size_t)bytes);
    }
    if (stack == NULL) {
        QBUG_TRACE("QSTACK_allocate failed to allocate memory for stack\n");
        QBUG_LEAVE("QSTACK_allocate - malloc failed");
        return NULL;
    }
    stack->element_size = element_size;
    stack->capacity = (uint32_t)bytes;
    stack->base = (uint8_t*)(stack + 1);
    stack->top = stack->base;
    QBUG_LEAVE("QSTACK_allocate");
    return stack;
}

void QSTACK_deallocate(QSTACK** stack) {
    QBUG_ENTER("QSTACK_deallocate");
    if (stack == NULL) {
        QBUG_ASSERT(stack != NULL);
        QBUG_LEAVE("QSTACK_deallocate");
        return;
    }
    QBUG_ASSERT(*stack != NULL);
    if (*stack != NULL) {
        free(*stack);
        *stack = NULL;
    }
    QBUG_LEAVE("QSTACK_deallocate");
}

QSTACK* QSTACK_reallocate(QSTACK* stack, int32_t new_count) {
    QBUG_ENTER("QSTACK_reallocate");
    if (stack == NULL) {
        QBUG_TRACE("QSTACK_reallocate: stack pointer is NULL");
        QBUG_LEAVE("QSTACK_reallocate");
        return NULL;
    }
    int64_t bytes = qstack_storage_size(new_count, stack->element_size);
    if (bytes <= (int64_t)stack->capacity) {
        if (bytes >= 0) {
            QBUG_TRACE("QSTACK_reallocate: cannot realloc less than currentsize!");
        } else {
            QBUG_TRACE("QSTACK_reallocate failed to reallocate memory forstack\n");
        }
        QBUG_LEAVE("QSTACK_reallocate");
        return NULL;
    }
    // The pointers are rebuilt in the moved block, so keep the used length.
    size_t used = (size_t)(stack->top - stack->base);
    QSTACK* moved = (QSTACK*)realloc(stack, sizeof(QSTACK) + (size_t)bytes);
    if (moved == NULL) {
        QBUG_TRACE("QSTACK_reallocate failed to reallocate memory forstack\n");
        QBUG_LEAVE("QSTACK_reallocate - realloc failed");
        return NULL;
    }
    moved->capacity = (uint32_t)bytes;
    moved->base = (uint8_t*)(moved + 1);
    moved->top = moved->base + used;
    QBUG_LEAVE("QSTACK_reallocate");
    return moved;
}

void QSTACK_make_empty(QSTACK* stack) {
    QBUG_ENTER("QSTACK_make_empty");
    if (stack != NULL) {
        stack->top = stack->base;
    }
    QBUG_LEAVE("QSTACK_make_empty");
}

bool QSTACK_is_empty(QSTACK* stack) {
    QBUG_ENTER("QSTACK_is_empty");
    QBUG_ASSERT(stack != NULL);
    bool empty = stack != NULL && stack->top == stack->base;
    QBUG_LEAVE("QSTACK_is_empty");
    return empty;
}

bool QSTACK_is_full(QSTACK* stack) {
    QBUG_ENTER("QSTACK_is_full");
    QBUG_ASSERT(stack != NULL);
    bool full = stack != NULL && stack->top >= stack->base + stack->capacity;
    QBUG_LEAVE("QSTACK_is_full");
    return full;
}

bool QSTACK_push(QSTACK* stack, const void* element) {
    QBUG_ENTER("QSTACK_push");
    QBUG_ASSERT(stack != NULL);
    if (element == NULL) {
        if (QBUG_ON(QBUG_FLAG_TRACE)) {
            QBUG_trace(QBUG_FILE, (uint16_t)__LINE__,
                       "STACK ERROR: data pointer is NULL cannot push it!\n");
            QBUG_dump_trace_buffer();
        }
        QBUG_LEAVE("QSTACK_push");
        return false;
    }
    // Full: top at or beyond the end, or too little room for one more element.
    uint32_t used = stack != NULL ? (uint32_t)(stack->top - stack->base) : 0;
    if (stack == NULL || used >= stack->capacity || stack->capacity - used < stack->element_size) {
        QBUG_LEAVE("QSTACK_push");
        return false;
    }
    // The allocator's 4-byte slot indices take the inlined copy.
    if (stack->element_size == 4) {
        memcpy(stack->top, element, 4);
    } else {
        memcpy(stack->top, element, stack->element_size);
    }
    stack->top += stack->element_size;
    QBUG_LEAVE("QSTACK_push");
    return true;
}

bool QSTACK_pop(QSTACK* stack, void* out) {
    QBUG_ENTER("QSTACK_pop");
    QBUG_ASSERT(stack != NULL);
    if (stack == NULL || out == NULL || stack->top <= stack->base) {
        QBUG_LEAVE("QSTACK_pop");
        return false;
    }
    stack->top -= stack->element_size;
    if (stack->element_size == 4) {
        memcpy(out, stack->top, 4);
    } else {
        memcpy(out, stack->top, stack->element_size);
    }
    QBUG_LEAVE("QSTACK_pop");
    return true;
}

bool QSTACK_remove_stack_entry(QSTACK* stack, const void* element) {
    QBUG_ENTER("QSTACK_remove_stack_entry");
    QBUG_ASSERT(stack != NULL);
    if (stack == NULL || element == NULL || stack->top <= stack->base) {
        QBUG_LEAVE("QSTACK_remove_stack_entry");
        return false;
    }
    uint32_t size = stack->element_size;
    for (uint8_t* entry = stack->base; size > 0 && entry + size <= stack->top; entry += size) {
        if (memcmp(entry, element, size) == 0) {
            memmove(entry, entry + size, (size_t)(stack->top - (entry + size)));
            stack->top -= size;
            break;
        }
    }
    QBUG_LEAVE("QSTACK_remove_stack_entry");
    return true;
}
