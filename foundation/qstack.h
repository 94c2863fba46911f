// qstack: a stack of fixed-size elements, copied in and out by value.
//
// The record and its element storage share one allocation from the plain
// heap (the stack never uses the tracked allocator, which is built on it):
// the storage lies directly behind the record, so growing the stack may move
// both, and callers must keep the pointer that QSTACK_reallocate returns.
// Elements are pushed and popped at top, last in first out.
#ifndef QSTACK_H
#define QSTACK_H

#include <stdint.h>

struct QSTACK {
    uint32_t element_size;  // bytes per element
    uint32_t capacity;      // bytes of element storage (count * element_size)
    uint8_t* base;          // first byte of the element storage
    uint8_t* top;           // next free byte; empty at base, full at base + capacity
};

// A new empty stack for count elements of element_size bytes, or NULL when
// the heap refuses or the storage size is negative or does not fit 32 bits.
QSTACK* QSTACK_allocate(int32_t count, uint32_t element_size);

// Releases *stack (when not NULL) and sets the caller's variable to NULL.
void QSTACK_deallocate(QSTACK** stack);

// Grows the stack to new_count elements, keeping its contents and order.
// Returns the stack, which may have moved, or NULL when stack is NULL, the
// new storage is not larger than the current one, or the heap refuses; on
// failure the old stack is untouched and still valid.
QSTACK* QSTACK_reallocate(QSTACK* stack, int32_t new_count);

// Drops every element.
void QSTACK_make_empty(QSTACK* stack);

// A NULL stack is reported (assertion) and counts as neither empty nor full.
bool QSTACK_is_empty(QSTACK* stack);
bool QSTACK_is_full(QSTACK* stack);

// Copies element_size bytes from element onto the top. False for a NULL
// stack or element, or when the stack is full (stack unchanged).
bool QSTACK_push(QSTACK* stack, const void* element);

// Copies the top element to out and removes it. False for a NULL stack or
// out, or when the stack is empty.
bool QSTACK_pop(QSTACK* stack, void* out);

// Removes the lowest element equal byte for byte to element, moving the ones
// above it down so they keep their order. False for an empty (or NULL) stack;
// true otherwise, whether or not an equal element was there.
bool QSTACK_remove_stack_entry(QSTACK* stack, const void* element);

#endif
