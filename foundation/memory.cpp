// memory: the tracked allocator (see memory.h).
//
// One underlying heap block holds record + user data + foot guard, always
// sizeof(MEMORY_RECORD) + size + MEMORY_FOOT_SIZE bytes whatever the check
// level. A record stands in slot i of the entry table exactly when its index
// field is i; the free stack holds the index of every empty slot once.
#include "memory.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qstack.h"

#define MEMORY_STATE_OFF       0  // not initialised
#define MEMORY_STATE_READY     1  // initialised, nothing allocated yet
#define MEMORY_STATE_ALLOCATED 2  // something allocated since initialisation

#define MEMORY_USAGE_LINE_SIZE 512

struct MEMORY_STATE {
    int32_t state;
    MEMORY_RECORD** table;  // entry_count slots; an empty slot holds NULL
    int32_t entry_count;    // only grows, and survives MEMORY_deinitialise
    int32_t realloc_step;
    uint32_t foot_size;
    uint8_t check_level;
    int32_t allocated_bytes;
    QSTACK* free_stack;  // 4-byte slot indices
};

static MEMORY_STATE memory_state = {
    MEMORY_STATE_OFF, NULL, 50, 50, MEMORY_FOOT_SIZE, 1, 0, NULL,
};

// 32 guard words, written and compared byte-wise: neither the head guard
// (inside the packed record) nor the foot guard (behind any number of user
// bytes) is aligned.
static const uint32_t memory_guard_pattern[MEMORY_GUARD_WORDS] = {
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
    MEMORY_GUARD_WORD, MEMORY_GUARD_WORD,
};

static uint8_t* memory_user_bytes(MEMORY_RECORD* record) {
    return (uint8_t*)record + sizeof(MEMORY_RECORD);
}

static uint8_t* memory_head_guard(MEMORY_RECORD* record) {
    return (uint8_t*)record + offsetof(MEMORY_RECORD, head_guard);
}

bool memory_set_head_foot_check(void* address) {
    QBUG_ENTER("memory_set_head_foot_check");
    memcpy(address, memory_guard_pattern, sizeof(memory_guard_pattern));
    QBUG_LEAVE("memory_set_head_foot_check");
    return true;
}

bool memory_check_head_foot_check(const void* address) {
    QBUG_ENTER("memory_check_head_foot_check");
    // Word by word, stopping at the first that differs; the copy is how an
    // unaligned word is read in C (it compiles to one load).
    const uint8_t* at = (const uint8_t*)address;
    bool intact = true;
    for (int32_t i = 0; intact && i < MEMORY_GUARD_WORDS; i++, at += sizeof(uint32_t)) {
        uint32_t word;
        memcpy(&word, at, sizeof(word));
        intact = word == MEMORY_GUARD_WORD;
    }
    QBUG_LEAVE("memory_check_head_foot_check");
    return intact;
}

int32_t memory_check_entry(const void* pointer, uint8_t is_record) {
    QBUG_ENTER("memory_check_entry");
    const char* failure = "MEMORY_check_entry: Not valid memory block or corruption";
    uint32_t index = 0;
    MEMORY_RECORD* record = NULL;
    if (pointer != NULL) {
        record = is_record == 1 ? (MEMORY_RECORD*)pointer
                                : (MEMORY_RECORD*)((const uint8_t*)pointer - sizeof(MEMORY_RECORD));
    }
    if (record != NULL && record->magic == MEMORY_MAGIC) {
        // The slot must hold this very record: a stale or copied record that
        // names a live block's slot must not release or grow that block.
        index = record->index;
        if (memory_state.table == NULL || index >= (uint32_t)memory_state.entry_count ||
            memory_state.table[index] == NULL || memory_state.table[index]->index != index ||
            memory_state.table[index] != record) {
            failure = "MEMORY_check_entry: memory corruption";
        } else if (memory_state.check_level == 0 &&
                   !memory_check_head_foot_check(memory_head_guard(record))) {
            failure = "MEMORY_check_entry: lead corruption";
        } else if (memory_state.check_level == 0 &&
                   !memory_check_head_foot_check(memory_user_bytes(record) + record->size)) {
            failure = "MEMORY_check_entry: foot corruption";
        } else {
            failure = NULL;
        }
    }
    if (failure != NULL) {
        QBUG_TRACE("%s", failure);
    }
    QBUG_LEAVE("memory_check_entry");
    return failure != NULL ? -1 : (int32_t)index;
}

// True when the allocator is initialised; otherwise failure (a fixed text)
// is traced.
static bool memory_initialised(const char* failure) {
    QBUG_ENTER("memory_initialised");
    bool initialised = memory_state.state != MEMORY_STATE_OFF;
    if (!initialised) {
        QBUG_TRACE("%s", failure);
    }
    QBUG_LEAVE("memory_initialised");
    return initialised;
}

bool memory_realloc_num_indices(void) {
    QBUG_ENTER("memory_realloc_num_indices");
    if (memory_state.state == MEMORY_STATE_OFF) {
        QBUG_LEAVE("memory_realloc_num_indices");
        return false;
    }
    int32_t old_count = memory_state.entry_count;
    // A count or table size that wraps would give a table smaller than the
    // slots about to be written.
    bool wraps =
        memory_state.realloc_step > INT32_MAX - old_count ||
        (uint32_t)(old_count + memory_state.realloc_step) > SIZE_MAX / sizeof(MEMORY_RECORD*);
    int32_t new_count = wraps ? old_count : old_count + memory_state.realloc_step;
    MEMORY_RECORD** table = NULL;
    if (!wraps) {
        size_t bytes = (size_t)new_count * sizeof(MEMORY_RECORD*);
        table = (MEMORY_RECORD**)realloc(memory_state.table, bytes);
    }
    if (table == NULL) {
        QBUG_TRACE("memory_realloc_num_indices: realloc call failed");
        QBUG_LEAVE("memory_realloc_num_indices");
        return false;
    }
    // The larger table is kept even if the stack cannot follow: slots at or
    // above the entry count are never read.
    memory_state.table = table;
    QSTACK* stack = QSTACK_reallocate(memory_state.free_stack, new_count);
    if (stack == NULL) {
        QBUG_TRACE("memory_realloc_num_indices: QSTACK realloc failed");
        QBUG_LEAVE("memory_realloc_num_indices");
        return false;
    }
    memory_state.free_stack = stack;
    for (int32_t index = old_count; index < new_count; index++) {
        table[index] = NULL;
        QSTACK_push(stack, &index);
    }
    memory_state.entry_count = new_count;
    QBUG_LEAVE("memory_realloc_num_indices");
    return true;
}

bool MEMORY_initialise(void) {
    QBUG_ENTER("MEMORY_initialise");
    if (memory_state.state != MEMORY_STATE_OFF) {
        QBUG_TRACE("MEMORY_initialise failed: already initialised");
        QBUG_LEAVE("MEMORY_initialise");
        return false;
    }
    int32_t count = memory_state.entry_count;
    MEMORY_RECORD** table = (MEMORY_RECORD**)malloc((size_t)count * sizeof(MEMORY_RECORD*));
    if (table == NULL) {
        QBUG_TRACE("MEMORY_initialise failed: no memory for the entry table");
        QBUG_LEAVE("MEMORY_initialise - malloc failed");
        return false;
    }
    QSTACK* stack = QSTACK_allocate(count, sizeof(int32_t));
    if (stack == NULL) {
        free(table);
        QBUG_TRACE("MEMORY_initialise failed: no memory for the free stack");
        QBUG_LEAVE("MEMORY_initialise - QSTACK_allocate failed");
        return false;
    }
    for (int32_t index = 0; index < count; index++) {
        table[index] = NULL;
        QSTACK_push(stack, &index);
    }
    memory_state.table = table;
    memory_state.free_stack = stack;
    memory_state.allocated_bytes = 0;
    memory_state.state = MEMORY_STATE_READY;
    QBUG_LEAVE("MEMORY_initialise");
    return true;
}

bool MEMORY_deinitialise(void) {
    QBUG_ENTER("MEMORY_deinitialise");
    bool initialised = memory_initialised("MEMORY_deinitialise failed: not initialised");
    if (initialised) {
        if (!QSTACK_is_full(memory_state.free_stack)) {
            QBUG_TRACE("MEMORY_deinitialise error: memory leaks detected");
        }
        QSTACK_deallocate(&memory_state.free_stack);
        for (int32_t index = 0; index < memory_state.entry_count; index++) {
            if (memory_state.table[index] != NULL) {
                free(memory_state.table[index]);
            }
        }
        free(memory_state.table);
        memory_state.table = NULL;
        memory_state.state = MEMORY_STATE_OFF;
    }
    QBUG_LEAVE("MEMORY_deinitialise");
    return initialised;
}

void* MEMORY_allocate(void* previous, int32_t size, uint16_t fill, const char* description,
                      const char* file, int32_t line) {
    QBUG_ENTER("MEMORY_allocate");
    const char* caller = file != NULL ? file : "";
    if (description == NULL) {
        description = "No Description";
    }
    bool refused = true;
    if (memory_state.state == MEMORY_STATE_OFF) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_allocate failed (%s, %d): data not initialised", caller,
                          (int)line);
    } else if (size <= 0) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_allocate failed (%s, %d): %s size = %d", caller, (int)line,
                          description, (int)size);
    } else {
        refused = false;
    }
    if (refused) {
        QBUG_LEAVE("MEMORY_allocate");
        return NULL;
    }
    if (previous != NULL) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_allocate (%s, %d): previous data not freed %s", caller, (int)line,
                          description);
    }
    int32_t index;
    if (!QSTACK_pop(memory_state.free_stack, &index)) {
        if (!memory_realloc_num_indices() || !QSTACK_pop(memory_state.free_stack, &index)) {
            QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                              "MEMORY_allocate failed (%s, %d): stack empty, realloc failed",
                              caller, (int)line);
            QBUG_LEAVE("MEMORY_allocate");
            return NULL;
        }
    }
    MEMORY_RECORD* record =
        (MEMORY_RECORD*)malloc(sizeof(MEMORY_RECORD) + (size_t)size + memory_state.foot_size);
    if (record == NULL) {
        QSTACK_push(memory_state.free_stack, &index);
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_allocate failed (%s, %d): malloc failed, %s size = %d", caller,
                          (int)line, description, (int)size);
        QBUG_LEAVE("MEMORY_allocate");
        return NULL;
    }
    record->magic = MEMORY_MAGIC;
    record->size = (uint32_t)size;
    record->index = (uint32_t)index;
    record->line = (uint32_t)line;
    // The last component after a backslash or a slash, cut at its last '.',
    // then to 8 characters.
    QBUG_short_name(file, "\\/", false, record->file);
    uint8_t* user = memory_user_bytes(record);
    if (memory_state.check_level == 0) {
        memory_set_head_foot_check(memory_head_guard(record));
        memory_set_head_foot_check(user + size);
    }
    memory_state.table[index] = record;
    if (fill == MEMORY_FILL_ZERO) {
        memset(user, 0, (size_t)size);
    } else if (fill == MEMORY_FILL_FF) {
        memset(user, 0xFF, (size_t)size);
    }
    memory_state.allocated_bytes += size;
    memory_state.state = MEMORY_STATE_ALLOCATED;
    MEMORY_change_description(user, description);
    QBUG_LEAVE("MEMORY_allocate");
    return user;
}

bool MEMORY_deallocate(void** variable, const char* file, int32_t line) {
    QBUG_ENTER("MEMORY_deallocate");
    const char* caller = file != NULL ? file : "";
    const char* refused = NULL;
    if (memory_state.state == MEMORY_STATE_OFF) {
        refused = "data not initialised";
    } else if (variable == NULL || *variable == NULL) {
        refused = "mem block parameter NULL";
    }
    if (refused != NULL) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__, "MEMORY_deallocate failed (%s, %d): %s",
                          caller, (int)line, refused);
        QBUG_LEAVE("MEMORY_deallocate");
        return false;
    }
    int32_t index = memory_check_entry(*variable, 0);
    if (index < 0) {
        // Nothing was released, so the caller hears false. The second line
        // is kept as the log has always read, misspelling included.
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_deallocate error (%s, %d): not a valid memory pointer", caller,
                          (int)line);
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__, "Or Corruption has occured.");
        QBUG_LEAVE("MEMORY_deallocate");
        return false;
    }
    MEMORY_RECORD* record = memory_state.table[index];
    memory_state.allocated_bytes -= (int32_t)record->size;
    // A stale copy of the pointer given later then fails on the magic.
    record->magic = 0;
    free(record);
    memory_state.table[index] = NULL;
    bool pushed = QSTACK_push(memory_state.free_stack, &index);
    *variable = NULL;
    if (!pushed) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_deallocate error (%s, %d): push onto free stack failed", caller,
                          (int)line);
    }
    QBUG_LEAVE("MEMORY_deallocate");
    return true;
}

void* MEMORY_reallocate(void* pointer, int32_t new_size) {
    QBUG_ENTER("MEMORY_reallocate");
    if (!memory_initialised("MEMORY_reallocate failed: data not initialised")) {
        QBUG_LEAVE("MEMORY_reallocate");
        return NULL;
    }
    if (pointer == NULL) {
        QBUG_TRACE("MEMORY_reallocate failed: mem block parameter NULL");
        QBUG_LEAVE("MEMORY_reallocate");
        return NULL;
    }
    int32_t index = memory_check_entry(pointer, 0);
    if (index < 0) {
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__,
                          "MEMORY_reallocate error: not a valid memory pointer");
        QBUG_retail_trace(QBUG_FILE, (uint16_t)__LINE__, "Or Corruption has occured.");
        QBUG_LEAVE("MEMORY_reallocate");
        return NULL;
    }
    MEMORY_RECORD* record = memory_state.table[index];
    int32_t old_size = (int32_t)record->size;
    if (new_size < old_size) {
        // Kept as the log has always read, without a blank before "extra".
        QBUG_TRACE(
            "MEMORY_reallocate error: new size %d is less than old size %dextra memory not "
            "allocated",
            (int)new_size, (int)old_size);
        QBUG_LEAVE("MEMORY_reallocate");
        return pointer;
    }
    // On failure realloc leaves the old block as it was, still in its slot.
    MEMORY_RECORD* moved = (MEMORY_RECORD*)realloc(
        record, sizeof(MEMORY_RECORD) + (size_t)new_size + memory_state.foot_size);
    if (moved == NULL) {
        QBUG_TRACE("MEMORY_reallocate error: realloc failed!");
        QBUG_LEAVE("MEMORY_reallocate - realloc failed");
        return NULL;
    }
    memory_state.table[index] = moved;
    uint8_t* user = memory_user_bytes(moved);
    if (memory_state.check_level == 0) {
        memory_set_head_foot_check(user + new_size);
    }
    moved->size = (uint32_t)new_size;
    memory_state.allocated_bytes += new_size - old_size;
    QBUG_LEAVE("MEMORY_reallocate");
    return user;
}

void MEMORY_usage(void) {
    QBUG_ENTER("MEMORY_usage");
    if (!memory_initialised("MEMORY_usage failed: memory not initialised")) {
        QBUG_LEAVE("MEMORY_usage");
        return;
    }
    // Each text is formatted first and then written as plain text, so a '%'
    // in a description is not read as a conversion.
    char text[MEMORY_USAGE_LINE_SIZE];
    snprintf(text, sizeof(text),
             "----------------------------------------------------------------------\n"
             "            Memory usage:: currently allocated = %d bytes\n"
             "----------------------------------------------------------------------\n",
             (int)memory_state.allocated_bytes);
    QBUG_retail_printf("%s", text);
    for (int32_t index = 0; index < memory_state.entry_count; index++) {
        MEMORY_RECORD* record = memory_state.table[index];
        if (record == NULL) {
            continue;
        }
        snprintf(text, sizeof(text), "[%8s, %5d] size: %9d; name: %-24s; addr: %p\n", record->file,
                 (int)record->line, (int)record->size, record->description, (void*)record);
        QBUG_retail_printf("%s", text);
    }
    QBUG_LEAVE("MEMORY_usage");
}

bool MEMORY_check_lead_and_tail(void* pointer) {
    QBUG_ENTER("MEMORY_check_lead_and_tail");
    bool valid = memory_initialised("MEMORY_check_lead_and_tail failed: memory not initialised") &&
                 memory_check_entry(pointer, 0) >= 0;
    QBUG_LEAVE("MEMORY_check_lead_and_tail");
    return valid;
}

bool MEMORY_check_all(void) {
    QBUG_ENTER("MEMORY_check_all");
    bool initialised = memory_initialised("MEMORY_check failed: memory not initialised");
    bool valid = initialised;
    // Every block is checked, also past a failure: each reports its own.
    for (int32_t index = 0; initialised && index < memory_state.entry_count; index++) {
        if (memory_state.table[index] != NULL &&
            memory_check_entry(memory_state.table[index], 1) < 0) {
            valid = false;
        }
    }
    QBUG_LEAVE("MEMORY_check_all");
    return valid;
}

bool MEMORY_change_description(void* pointer, const char* description) {
    QBUG_ENTER("MEMORY_change_description");
    const char* refused = NULL;
    MEMORY_RECORD* record = NULL;
    if (pointer == NULL) {
        refused = "MEMORY_change_description failed: mem_block is NULL";
    } else if (description == NULL) {
        refused = "MEMORY_change_description failed: description is NULL";
    } else {
        record = (MEMORY_RECORD*)((uint8_t*)pointer - sizeof(MEMORY_RECORD));
        uint32_t index = record->index;
        // Before MEMORY_initialise there is no table, so no slot can hold it.
        if (memory_state.table == NULL || index >= (uint32_t)memory_state.entry_count ||
            memory_state.table[index] == NULL || memory_state.table[index]->index != index) {
            refused = "MEMORY_change_description failed: memory corrupt";
        }
    }
    if (refused != NULL) {
        QBUG_TRACE("%s", refused);
        QBUG_LEAVE("MEMORY_change_description");
        return false;
    }
    // At most 23 characters and a zero, without a library call: this runs
    // on every allocation.
    int32_t length = 0;
    while (length < MEMORY_DESCRIPTION_SIZE - 1 && description[length] != '\0') {
        record->description[length] = description[length];
        length++;
    }
    record->description[length] = '\0';
    QBUG_LEAVE("MEMORY_change_description");
    return true;
}

bool MEMORY_set_default_num_entries(void) {
    QBUG_ENTER("MEMORY_set_default_num_entries");
    bool grown = memory_state.state != MEMORY_STATE_OFF && memory_realloc_num_indices();
    QBUG_LEAVE("MEMORY_set_default_num_entries");
    return grown;
}

bool MEMORY_set_module_realloc_step_size(int32_t step) {
    QBUG_ENTER("MEMORY_set_module_realloc_step_size");
    bool taken = step > 0;
    if (taken) {
        memory_state.realloc_step = step;
    }
    QBUG_LEAVE("MEMORY_set_module_realloc_step_size");
    return taken;
}

void MEMORY_set_check_level(uint8_t level) {
    QBUG_ENTER("MEMORY_set_check_level");
    if (memory_state.state == MEMORY_STATE_ALLOCATED) {
        QBUG_TRACE("MEMORY_set_check_level : Can't change after an allocate");
    } else {
        memory_state.check_level = level;
    }
    QBUG_LEAVE("MEMORY_set_check_level");
}

// A read of the module state, bracketed with the traced entry and exit of
// the public function name that asks for it.
static int32_t memory_read(const char* name, int32_t value) {
    QBUG_ENTER(name);
    QBUG_LEAVE(name);
    return value;
}

// The getters: each a traced read of one setting.
#define MEMORY_GETTER(type, function, field) \
    type function(void) { return (type)memory_read(#function, memory_state.field); }
MEMORY_GETTER(int32_t, MEMORY_get_default_num_entries, entry_count)
MEMORY_GETTER(int32_t, MEMORY_get_module_realloc_step_size, realloc_step)
MEMORY_GETTER(uint8_t, MEMORY_get_check_level, check_level)
