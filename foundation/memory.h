// memory: the foundation library's tracked allocator.
//
// Every block carries a record in front of it (magic, description, size,
// slot, the caller's file and line) and lives in one slot of a process-wide
// entry table, so the allocator can report leaks at shut-down, dump what is
// in use and validate a pointer before it releases or grows it. At check
// level 0 each block is also framed by guard words that catch overruns.
// Free slots come from a qstack of slot indices, so allocation and release
// take constant time apart from the table growing by a fixed step.
//
// Errors of allocate and deallocate go to the retail log unconditionally;
// the others are reported through the diagnostics' trace.
//
// Callers keep one pointer variable per block: they pass its current value
// to MEMORY_allocate (expected NULL) and store the result in it, and release
// by passing its address, which leaves it NULL. MEMORY_ALLOCATE and
// MEMORY_DEALLOCATE add the caller's source file name and line.
#ifndef MEMORY_H
#define MEMORY_H

#include <stdint.h>

#include "qbug.h"

#define MEMORY_MAGIC            0x004D454Du  // "MEM\0" in memory order
#define MEMORY_DESCRIPTION_SIZE 24           // at most 23 characters and a zero
#define MEMORY_FILE_SIZE        9            // at most 8 characters and a zero
#define MEMORY_GUARD_WORDS      32
#define MEMORY_GUARD_WORD       0xDEADBEEFu
#define MEMORY_FOOT_SIZE        128  // bytes behind each block for the foot guard

#define MEMORY_FILL_ZERO 1    // every user byte 0
#define MEMORY_FILL_FF   128  // every user byte 0xFF; other fill values leave the bytes as obtained

// The record in front of every block. Byte-packed: the user data follows the
// head guard directly, so user blocks carry no alignment beyond one byte.
#pragma pack(push, 1)
struct MEMORY_RECORD {
    uint32_t magic;
    char description[MEMORY_DESCRIPTION_SIZE];
    uint32_t size;   // user bytes
    uint32_t index;  // slot in the entry table
    char file[MEMORY_FILE_SIZE];
    uint32_t line;
    uint32_t head_guard[MEMORY_GUARD_WORDS];
};
#pragma pack(pop)
static_assert(sizeof(MEMORY_RECORD) == 4 + 24 + 4 + 4 + 9 + 4 + 128,
              "the block record is packed with no gaps");

// Creates the entry table and the free-slot stack with the current entry
// count (50 at start). False when already initialised, or when the table or
// the stack cannot be had; the allocator then stays uninitialised.
bool MEMORY_initialise(void);

// Reports leaks (trace), frees every live block, the table and the stack.
// True also with leaks; false when not initialised. The entry count, the
// step and the check level are kept for a later MEMORY_initialise.
bool MEMORY_deinitialise(void);

// A new block of size bytes, filled per fill (MEMORY_FILL_ZERO,
// MEMORY_FILL_FF, anything else: untouched), described by description (NULL:
// "No Description", cut to 23 characters), or NULL when not initialised, for
// size <= 0, or when no slot or heap memory can be had. previous is the
// value the receiving variable holds; a non-NULL one is reported as a leak
// and left alone. file is reduced to its own name without extension.
void* MEMORY_allocate(void* previous, int32_t size, uint16_t fill, const char* description,
                      const char* file, int32_t line);

// Releases the block *variable points to and sets *variable to NULL. False
// (nothing released, *variable unchanged) when not initialised, when
// variable or *variable is NULL, or when the block fails validation. A block
// released whose slot could not be returned to the free stack is reported
// and still gives true.
bool MEMORY_deallocate(void** variable, const char* file, int32_t line);

// Grows a block to new_size bytes (the added bytes are not initialised) and
// returns its user pointer, which may have moved. A smaller new_size is
// reported and returns the same pointer, block unchanged. NULL when not
// initialised, for a NULL or invalid pointer, or when the heap refuses; the
// block then stays valid where it was.
void* MEMORY_reallocate(void* pointer, int32_t new_size);

// Writes the usage dump into the retail file: a header with the bytes in use,
// then one line per live block in slot order.
void MEMORY_usage(void);

// True when the block passes validation (record, slot and, at check level 0,
// both guards); false otherwise and when not initialised.
bool MEMORY_check_lead_and_tail(void* pointer);

// True when every live block passes validation (also when none is live);
// every block is checked even after a failure.
bool MEMORY_check_all(void);

// Stores at most 23 characters of description in the block's record. False
// for a NULL pointer or description or when the block's slot does not hold
// it (also before MEMORY_initialise).
bool MEMORY_change_description(void* pointer, const char* description);

// Grows the entry table by one step when initialised; false otherwise.
bool MEMORY_set_default_num_entries(void);
int32_t MEMORY_get_default_num_entries(void);
// Stores step when step > 0 (true); otherwise changes nothing (false).
bool MEMORY_set_module_realloc_step_size(int32_t step);
int32_t MEMORY_get_module_realloc_step_size(void);
// 0: guard words are written and verified; anything else: they are not.
// Refused (reported, level unchanged) once anything has been allocated
// since MEMORY_initialise.
void MEMORY_set_check_level(uint8_t level);
uint8_t MEMORY_get_check_level(void);

// Private operations, declared for the module's own tests.
bool memory_realloc_num_indices(void);
bool memory_set_head_foot_check(void* address);
bool memory_check_head_foot_check(const void* address);
// The block's slot index, or -1. is_record 1: pointer is the record's
// address; anything else: a user pointer.
int32_t memory_check_entry(const void* pointer, uint8_t is_record);

// The caller's own source file name and line.
#define MEMORY_ALLOCATE(previous, size, fill, description) \
    MEMORY_allocate((previous), (size), (fill), (description), QBUG_FILE, __LINE__)
#define MEMORY_DEALLOCATE(variable_address) \
    MEMORY_deallocate((void**)(variable_address), QBUG_FILE, __LINE__)

#endif
