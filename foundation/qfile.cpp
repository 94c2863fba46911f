// qfile: search paths, name trees, traced file I/O, chunked reads, checksum.
#include "qfile.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "qbug.h"
#include "walker.h"
#include "memory.h"

QFILE_DETAILS local_qfile_details;

// ---------------------------------------------------------------------------
// Small helpers

// Status of path into the kept file status; true when the file system could
// report it (the path exists).
static bool qfile_read_status(const char* path) {
    QBUG_ENTER(__func__);
    bool found = _stati64(path, &local_qfile_details.file_status) == 0;
    QBUG_LEAVE(__func__);
    return found;
}

// destination = first + second, when both fit into size characters with the
// zero. A result that would not fit is refused and destination left alone.
static bool qfile_join(char* destination, uint32_t size, const char* first, const char* second) {
    QBUG_ENTER(__func__);
    size_t first_length = strlen(first);
    size_t second_length = strlen(second);
    bool fits = first_length + second_length < size;
    if (fits) {
        // first may be destination itself; second never is.
        memmove(destination, first, first_length);
        memcpy(destination + first_length, second, second_length + 1);
    }
    QBUG_LEAVE(__func__);
    return fits;
}

// The next backslash-separated component of *cursor, cut to 12 characters,
// into component; *cursor moves behind it. Empty components are skipped.
// False when no component is left.
static bool qfile_next_component(const char** cursor, char* component) {
    QBUG_ENTER(__func__);
    const char* p = *cursor;
    while (*p == '\\') p++;
    uint32_t length = 0;
    while (*p != '\0' && *p != '\\') {
        if (length < QFILE_NAME_SIZE - 1) component[length++] = *p;
        p++;
    }
    component[length] = '\0';
    *cursor = p;
    QBUG_LEAVE(__func__);
    return length > 0;
}

static bool qfile_release(void** variable) {
    QBUG_ENTER(__func__);
    bool released = MEMORY_deallocate(variable, QBUG_FILE, __LINE__);
    QBUG_LEAVE(__func__);
    return released;
}

// ---------------------------------------------------------------------------
// Life cycle

// What QFILE_initialise takes without settings.
static const QFILE_SETTINGS qfile_default_settings = {
    QFILE_DEFAULT_SEARCH_PATH_COUNT,
    QFILE_DEFAULT_TREE_CAPACITY,
    "",
    QFILE_DEFAULT_TREE_GROWTH,
    QFILE_DEFAULT_CHUNK_SIZE,
    NULL,
    0,
    0,
    0,
    0,
    "",
    "",
    0,
};

// Copies settings into the state. False when the extension does not fit
// (an extension without its zero would be cut); it is then left empty.
static bool qfile_take_settings(QFILE_DETAILS* d, const QFILE_SETTINGS* settings) {
    QBUG_ENTER(__func__);
    d->search_path_count = settings->search_path_count;
    d->initial_tree_capacity = settings->initial_tree_capacity;
    bool terminated = memchr(settings->extension, '\0', QFILE_PATH_SIZE) != NULL;
    if (terminated) memcpy(d->extension, settings->extension, QFILE_PATH_SIZE);
    d->tree_growth_step = settings->tree_growth_step;
    d->chunk_size = settings->chunk_size;
    d->progress = settings->progress;
    d->reserved_1 = settings->reserved_1;
    d->reserved_2 = settings->reserved_2;
    d->reserved_3 = settings->reserved_3;
    d->crc_state = settings->crc_state;
    memcpy(d->reserved_4, settings->reserved_4, QFILE_PATH_SIZE);
    memcpy(d->reserved_5, settings->reserved_5, QFILE_PATH_SIZE);
    d->reserved_6 = settings->reserved_6;
    QBUG_LEAVE(__func__);
    return terminated;
}

bool QFILE_initialise(const QFILE_SETTINGS* settings) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    if (d->active) {
        QBUG_LEAVE(__func__);
        return false;
    }
    d->active = 1;
    d->extension[0] = '\0';
    d->use_tree = 1;
    d->building_slot = NULL;
    bool ready = qfile_take_settings(d, settings != NULL ? settings : &qfile_default_settings);
    if (!ready) QBUG_TRACE("QFILE_initialise: extension does not fit");

    // A count whose array size does not fit the allocator's size is treated
    // like an allocation that failed.
    int64_t bytes = (int64_t)d->search_path_count * (int64_t)sizeof(QFILE_SEARCH_PATH);
    if (ready && bytes > 0 && bytes <= INT32_MAX) {
        d->search_paths = (QFILE_SEARCH_PATH*)MEMORY_allocate(
            d->search_paths, (int32_t)bytes, MEMORY_FILL_ZERO,
            "QFILE: local_qfile_details.search_paths", QBUG_FILE, __LINE__);
    }
    if (ready && d->search_paths == NULL) {
        QBUG_TRACE("QFILE_initialise: Failed to allocate memory size:");
        ready = false;
    }
    for (uint32_t i = 0; ready && i < d->search_path_count; i++) {
        d->search_paths[i].path[0] = '\0';
        d->search_paths[i].file_tree = NULL;
        d->search_paths[i].capacity = 0;
        d->search_paths[i].count = 0;
    }

    // Every chunked read goes through this buffer; without it the module
    // could not read, so it does not become active.
    if (ready && d->chunk_size > 0 && d->chunk_size <= INT32_MAX) {
        // The block's description in usage dumps keeps its old spelling.
        d->chunck_buffer =
            (uint8_t*)MEMORY_allocate(d->chunck_buffer, (int32_t)d->chunk_size, MEMORY_FILL_ZERO,
                                      "QFILE: chunck_buffer", QBUG_FILE, __LINE__);
    }
    if (ready && d->chunck_buffer == NULL) {
        QBUG_TRACE("QFILE_initialise: Failed to allocate chunk buffer size: %u", d->chunk_size);
        qfile_release((void**)&d->search_paths);
        ready = false;
    }
    if (ready) {
        d->crc_total = 0;
    } else {
        d->active = 0;
        d->use_tree = 0;
        d->search_path_count = 0;
    }
    QBUG_LEAVE(__func__);
    return ready;
}

bool QFILE_deinitialise(void) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    if (d->chunck_buffer != NULL) qfile_release((void**)&d->chunck_buffer);
    d->active = 0;
    if (d->search_paths == NULL) {
        QBUG_LEAVE(__func__);
        return false;
    }
    qfile_clear_search_path(-1);
    qfile_release((void**)&d->search_paths);
    d->search_path_count = 0;
    QBUG_LEAVE(__func__);
    return true;
}

// ---------------------------------------------------------------------------
// Search paths and settings

int32_t QFILE_add_search_path(const char* path) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    int32_t index = -1;
    // An empty path would leave the slot free; a long one would be cut.
    if (d->search_paths != NULL && path != NULL && path[0] != '\0' &&
        strlen(path) < QFILE_PATH_SIZE) {
        for (uint32_t i = 0; i < d->search_path_count; i++) {
            if (d->search_paths[i].path[0] == '\0') {
                qfile_copy_string(d->search_paths[i].path, path, QFILE_PATH_SIZE);
                index = (int32_t)i;
                break;
            }
        }
    }
    QBUG_LEAVE(__func__);
    return index;
}

const char* QFILE_get_search_path(int32_t index) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    const char* path = NULL;
    if (d->search_paths != NULL && index >= 0 && (uint32_t)index < d->search_path_count) {
        path = d->search_paths[index].path;
    }
    QBUG_LEAVE(__func__);
    return path;
}

void qfile_clear_search_path(int32_t index) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    if (d->search_paths != NULL) {
        uint32_t first = 0, end = 0;
        if (index == -1) {
            end = d->search_path_count;
        } else if (index >= 0 && (uint32_t)index < d->search_path_count) {
            first = (uint32_t)index;
            end = first + 1;
        }
        for (uint32_t i = first; i < end; i++) {
            QFILE_SEARCH_PATH* slot = &d->search_paths[i];
            slot->path[0] = '\0';
            if (slot->file_tree != NULL) qfile_release((void**)&slot->file_tree);
        }
    }
    QBUG_LEAVE(__func__);
}

int32_t QFILE_set_search_paths(int32_t count, ...) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    qfile_clear_search_path(-1);
    int32_t added = 0;
    va_list arguments;
    va_start(arguments, count);
    for (int32_t i = 0; i < count; i++) {
        const char* path = va_arg(arguments, const char*);
        if (path == NULL) {
            QBUG_TRACE("string is NULL");
            continue;
        }
        int32_t slot = QFILE_add_search_path(path);
        if (slot >= 0) {
            d->search_paths[slot].capacity = d->initial_tree_capacity;
            QFILE_build_file_tree(slot);
            added++;
        }
    }
    va_end(arguments);
    QBUG_LEAVE(__func__);
    return added;
}

bool QFILE_set_extension(const char* text) {
    QBUG_ENTER(__func__);
    bool stored = text != NULL && strlen(text) < QFILE_PATH_SIZE;
    if (stored) qfile_copy_string(local_qfile_details.extension, text, QFILE_PATH_SIZE);
    QBUG_LEAVE(__func__);
    return stored;
}

const char* QFILE_get_extension(void) {
    QBUG_ENTER(__func__);
    QBUG_LEAVE(__func__);
    return local_qfile_details.extension;
}

bool QFILE_set_use_tree_to_find_files(int32_t flag) {
    QBUG_ENTER(__func__);
    bool stored = flag == 0 || flag == 1;
    if (stored) local_qfile_details.use_tree = (uint8_t)flag;
    QBUG_LEAVE(__func__);
    return stored;
}

uint8_t QFILE_get_use_tree_to_find_files(void) {
    QBUG_ENTER(__func__);
    QBUG_LEAVE(__func__);
    return local_qfile_details.use_tree;
}

bool qfile_copy_string(char* destination, const char* source, uint32_t size) {
    QBUG_ENTER(__func__);
    if (destination == NULL || source == NULL || size == 0) {
        QBUG_LEAVE(__func__);
        return false;
    }
    uint32_t i = 0;
    for (; i + 1 < size && source[i] != '\0'; i++) {
        destination[i] = (char)tolower((unsigned char)source[i]);
    }
    destination[i] = '\0';
    QBUG_LEAVE(__func__);
    return true;
}

// ---------------------------------------------------------------------------
// Name trees

bool qfile_allocate_file_tree(QFILE_SEARCH_PATH* slot) {
    QBUG_ENTER(__func__);
    if (slot == NULL) {
        QBUG_LEAVE(__func__);
        return false;
    }
    if (slot->file_tree != NULL) qfile_release((void**)&slot->file_tree);
    slot->count = 0;
    int64_t bytes = (int64_t)slot->capacity * (int64_t)sizeof(QFILE_TREE_NODE);
    if (bytes > 0 && bytes <= INT32_MAX) {
        slot->file_tree = (QFILE_TREE_NODE*)MEMORY_allocate(
            slot->file_tree, (int32_t)bytes, MEMORY_FILL_ZERO, "QFILE: tree_details->file_tree",
            QBUG_FILE, __LINE__);
    }
    if (slot->file_tree == NULL) {
        QBUG_TRACE("QFILE_allocate_file_tree: Failed to allocate memorysize: %lld",
                   (long long)bytes);
        QBUG_LEAVE(__func__);
        return false;
    }
    slot->file_tree[0].next = QFILE_NO_NODE;
    slot->file_tree[0].child = QFILE_NO_NODE;
    slot->file_tree[0].name[0] = '\0';
    QBUG_LEAVE(__func__);
    return true;
}

bool qfile_reallocate_file_tree(QFILE_SEARCH_PATH* slot) {
    QBUG_ENTER(__func__);
    bool grown = false;
    if (slot != NULL && slot->file_tree != NULL && local_qfile_details.tree_growth_step > 0) {
        uint64_t capacity = (uint64_t)slot->capacity + local_qfile_details.tree_growth_step;
        uint64_t bytes = capacity * sizeof(QFILE_TREE_NODE);
        if (bytes <= INT32_MAX) {
            void* moved = MEMORY_reallocate(slot->file_tree, (int32_t)bytes);
            if (moved != NULL) {
                slot->file_tree = (QFILE_TREE_NODE*)moved;
                slot->capacity = (uint32_t)capacity;
                grown = true;
            }
        }
    }
    QBUG_LEAVE(__func__);
    return grown;
}

int32_t qfile_add_entry_to_file_tree(QFILE_SEARCH_PATH* slot, const char* name) {
    QBUG_ENTER(__func__);
    if (slot == NULL || name == NULL || slot->file_tree == NULL || slot->count >= INT32_MAX ||
        (slot->count >= slot->capacity && !qfile_reallocate_file_tree(slot))) {
        QBUG_LEAVE(__func__);
        return -1;
    }
    QBUG_ASSERT(slot->count < slot->capacity);
    QFILE_TREE_NODE* node = &slot->file_tree[slot->count];
    qfile_copy_string(node->name, name, QFILE_NAME_SIZE);
    node->next = QFILE_NO_NODE;
    node->child = QFILE_NO_NODE;
    int32_t index = (int32_t)slot->count;
    slot->count++;
    QBUG_LEAVE(__func__);
    return index;
}

// The slot whose tree receives path: the slot being built when its path is a
// prefix of path, otherwise the first slot whose path is. Walking a slot
// inside another slot's directory thus fills its own tree.
static QFILE_SEARCH_PATH* qfile_slot_of_path(const char* path) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    QFILE_SEARCH_PATH* found = NULL;
    QFILE_SEARCH_PATH* building = d->building_slot;
    if (building != NULL && building->path[0] != '\0' &&
        strncmp(path, building->path, strlen(building->path)) == 0) {
        found = building;
    }
    for (uint32_t i = 0; found == NULL && i < d->search_path_count; i++) {
        QFILE_SEARCH_PATH* slot = &d->search_paths[i];
        if (slot->path[0] != '\0' && strncmp(path, slot->path, strlen(slot->path)) == 0)
            found = slot;
    }
    QBUG_LEAVE(__func__);
    return found;
}

// The build's name index: for the tree being built, the first node of each
// name in each sibling chain (a chain is known by its first node), and each
// chain's last node. With it an entry is found or appended without walking
// its chain, so a directory of k entries costs k steps, not k * k / 2. It is
// a cache beside the tree, on the plain heap so that the tracked allocator
// sees the same blocks as without it. When it cannot grow it is dropped, the
// build walks the chains and, as memory ran out, reports failure.
struct QFILE_NAME_PLACE {
    uint32_t chain;  // first node of the chain, QFILE_NO_NODE = empty place
    uint32_t node;   // first node of the name in that chain
};
static struct {
    QFILE_SEARCH_PATH* slot;  // tree indexed, NULL = none
    QFILE_NAME_PLACE* places;
    uint32_t mask;       // places - 1 (a power of two)
    uint32_t used;       // places filled
    uint32_t* last;      // last node of the chain starting at each node
    uint32_t last_size;  // nodes last can hold
} qfile_names;

static void qfile_names_drop(void) {
    QBUG_ENTER(__func__);
    free(qfile_names.places);
    free(qfile_names.last);
    memset(&qfile_names, 0, sizeof qfile_names);
    QBUG_LEAVE(__func__);
}

static inline uint32_t qfile_name_hash(uint32_t chain, const char* name) {
    uint32_t hash = 2166136261u ^ chain;
    for (const unsigned char* p = (const unsigned char*)name; *p != 0; p++)
        hash = (hash ^ *p) * 16777619u;
    return hash;
}

// The place of name in chain: the one that holds it, or the empty one that
// ends the probe.
static inline QFILE_NAME_PLACE* qfile_names_probe(const QFILE_TREE_NODE* tree, uint32_t chain,
                                                  const char* name) {
    uint32_t at = qfile_name_hash(chain, name) & qfile_names.mask;
    for (;; at = (at + 1) & qfile_names.mask) {
        QFILE_NAME_PLACE* place = &qfile_names.places[at];
        if (place->chain == QFILE_NO_NODE ||
            (place->chain == chain && strcmp(tree[place->node].name, name) == 0))
            return place;
    }
}

static bool qfile_names_resize(uint32_t size) {
    QBUG_ENTER(__func__);
    QFILE_NAME_PLACE* old = qfile_names.places;
    uint32_t old_size = old != NULL ? qfile_names.mask + 1 : 0;
    QFILE_NAME_PLACE* places =
        size <= (1u << 26) ? (QFILE_NAME_PLACE*)malloc(sizeof(QFILE_NAME_PLACE) * size) : NULL;
    if (places == NULL) {
        QBUG_LEAVE(__func__);
        return false;
    }
    for (uint32_t i = 0; i < size; i++) places[i].chain = QFILE_NO_NODE;
    qfile_names.places = places;
    qfile_names.mask = size - 1;
    for (uint32_t i = 0; i < old_size; i++) {
        if (old[i].chain != QFILE_NO_NODE)
            *qfile_names_probe(qfile_names.slot->file_tree, old[i].chain,
                               qfile_names.slot->file_tree[old[i].node].name) = old[i];
    }
    free(old);
    QBUG_LEAVE(__func__);
    return true;
}

// Starts the index for slot's tree, which is empty.
static void qfile_names_start(QFILE_SEARCH_PATH* slot) {
    QBUG_ENTER(__func__);
    qfile_names_drop();
    qfile_names.slot = slot;
    if (!qfile_names_resize(1024)) {
        qfile_names_drop();
        local_qfile_details.building_failed = 1;
    }
    QBUG_LEAVE(__func__);
}

// Notes node, just appended to the chain that starts at chain (at the place
// its probe ended on). False drops the index.
static bool qfile_names_note(uint32_t chain, uint32_t node, QFILE_NAME_PLACE* place) {
    QBUG_ENTER(__func__);
    bool kept = true;
    if (node >= qfile_names.last_size) {
        uint32_t size = qfile_names.last_size > 0 ? qfile_names.last_size * 2 : 1024;
        while (size <= node) size *= 2;
        uint32_t* last = (uint32_t*)realloc(qfile_names.last, sizeof(uint32_t) * size);
        if (last == NULL) kept = false;
        if (last != NULL) {
            qfile_names.last = last;
            qfile_names.last_size = size;
        }
    }
    if (kept) {
        place->chain = chain;
        place->node = node;
        qfile_names.last[chain] = node;
        qfile_names.used++;
        if (qfile_names.used * 2 > qfile_names.mask + 1)
            kept = qfile_names_resize((qfile_names.mask + 1) * 2);
    }
    if (!kept) {
        qfile_names_drop();
        local_qfile_details.building_failed = 1;
    }
    QBUG_LEAVE(__func__);
    return kept;
}

// Adds a node and reports a failure to the build in progress.
static int32_t qfile_add_or_note(QFILE_SEARCH_PATH* slot, const char* name) {
    QBUG_ENTER(__func__);
    int32_t index = qfile_add_entry_to_file_tree(slot, name);
    if (index < 0) local_qfile_details.building_failed = 1;
    QBUG_LEAVE(__func__);
    return index;
}

void qfile_file_tree_callback_function(const char* path, int32_t kind) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    char copy[QFILE_PATH_SIZE];
    char component[QFILE_NAME_SIZE];
    QFILE_SEARCH_PATH* slot = NULL;
    // A link is a name in the tree like a file; the walker never enters it,
    // so nothing behind it becomes one.
    QBUG_ASSERT(kind == WALK_FILE || kind == WALK_DIRECTORY || kind == WALK_LINK ||
                kind == WALK_TICK);
    if (kind == WALK_TICK || path == NULL || d->search_paths == NULL) {
        QBUG_LEAVE(__func__);
        return;
    }
    // A path that does not fit would be stored under a cut name.
    if (strlen(path) >= QFILE_PATH_SIZE) {
        QBUG_TRACE("qfile_file_tree_callback_function: path too long: %s", path);
        d->building_failed = 1;
        QBUG_LEAVE(__func__);
        return;
    }
    qfile_copy_string(copy, path, QFILE_PATH_SIZE);
    slot = qfile_slot_of_path(copy);
    if (slot == NULL || slot->file_tree == NULL) {
        QBUG_LEAVE(__func__);
        return;
    }
    const char* rest = copy + strlen(slot->path);
    if (*rest == '\\') rest++;
    if (!qfile_next_component(&rest, component)) {
        QBUG_LEAVE(__func__);
        return;
    }
    if (slot->count == 0) {
        int32_t added = qfile_add_or_note(slot, component);
        if (qfile_names.slot == slot && added == 0)
            qfile_names_note(0, 0, qfile_names_probe(slot->file_tree, 0, component));
        QBUG_LEAVE(__func__);
        return;
    }
    uint32_t current = 0;
    // With the build's name index: the same steps, without the chain walks.
    while (qfile_names.slot == slot && current < slot->count) {
        QFILE_NAME_PLACE* place = qfile_names_probe(slot->file_tree, current, component);
        if (place->chain == QFILE_NO_NODE) {
            int32_t added = qfile_add_or_note(slot, component);
            if (added >= 0) {
                slot->file_tree[qfile_names.last[current]].next = (uint32_t)added;
                qfile_names_note(current, (uint32_t)added, place);
            }
            QBUG_LEAVE(__func__);
            return;
        }
        uint32_t match = place->node;
        if (!qfile_next_component(&rest, component)) {
            QBUG_LEAVE(__func__);
            return;
        }
        if (slot->file_tree[match].child == QFILE_NO_NODE) {
            int32_t added = qfile_add_or_note(slot, component);
            if (added >= 0) {
                slot->file_tree[match].child = (uint32_t)added;
                qfile_names_note((uint32_t)added, (uint32_t)added,
                                 qfile_names_probe(slot->file_tree, (uint32_t)added, component));
            }
            QBUG_LEAVE(__func__);
            return;
        }
        current = slot->file_tree[match].child;
    }
    for (;;) {
        // The chain from current: its first node of this name, else its last node.
        uint32_t last = current;
        uint32_t match = QFILE_NO_NODE;
        for (uint32_t n = current; n != QFILE_NO_NODE && n < slot->count;
             n = slot->file_tree[n].next) {
            last = n;
            if (strcmp(slot->file_tree[n].name, component) == 0) {
                match = n;
                break;
            }
        }
        if (match == QFILE_NO_NODE) {
            int32_t added = qfile_add_or_note(slot, component);
            if (added >= 0) slot->file_tree[last].next = (uint32_t)added;  // tree may have moved
            break;
        }
        if (!qfile_next_component(&rest, component)) break;
        if (slot->file_tree[match].child == QFILE_NO_NODE) {
            int32_t added = qfile_add_or_note(slot, component);
            if (added >= 0) slot->file_tree[match].child = (uint32_t)added;
            break;
        }
        current = slot->file_tree[match].child;
    }
    QBUG_LEAVE(__func__);
}

// Builds one slot's tree. A slot filled by QFILE_add_search_path alone has no
// capacity yet and takes the initial one.
static bool qfile_build_slot(QFILE_SEARCH_PATH* slot) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    if (slot->capacity == 0) slot->capacity = d->initial_tree_capacity;
    if (!qfile_allocate_file_tree(slot)) {
        QBUG_LEAVE(__func__);
        return false;
    }
    d->building_slot = slot;
    d->building_failed = 0;
    qfile_names_start(slot);
    walk_tree("*.*", slot->path, qfile_file_tree_callback_function, WALK_DESCEND);
    qfile_names_drop();
    d->building_slot = NULL;
    bool complete = !d->building_failed;
    QBUG_LEAVE(__func__);
    return complete;
}

bool QFILE_build_file_tree(int32_t index) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    bool built = false;
    if (d->search_paths != NULL && index == -1) {
        built = true;
        for (uint32_t i = 0; i < d->search_path_count; i++) {
            if (d->search_paths[i].path[0] != '\0' && !qfile_build_slot(&d->search_paths[i]))
                built = false;
        }
    } else if (index == -1) {
        built = true;  // no slots, nothing to build
    } else if (d->search_paths != NULL && index >= 0 && (uint32_t)index < d->search_path_count &&
               d->search_paths[index].path[0] != '\0') {
        built = qfile_build_slot(&d->search_paths[index]);
    }
    QBUG_LEAVE(__func__);
    return built;
}

// The look-up behind qfile_find_full_path, writing at most out_size
// characters. Sibling chains are followed in a loop; only descending into a
// child recurses, so depth follows the name's components, not the tree's width.
static bool qfile_find_below(const char* name, char* out, uint32_t out_size,
                             const QFILE_TREE_NODE* tree, uint32_t node) {
    QBUG_ENTER(__func__);
    const char* start = name;
    if (*start == '\\') start++;
    size_t full_length = strcspn(start, "\\");
    size_t length = full_length < QFILE_NAME_SIZE - 1 ? full_length : QFILE_NAME_SIZE - 1;
    const char* rest = start + full_length;
    bool last_component = rest[0] == '\0' || (rest[0] == '\\' && rest[1] == '\0');
    bool found = false;
    out[0] = '\0';
    for (uint32_t n = node; length > 0 && n != QFILE_NO_NODE && !found; n = tree[n].next) {
        // Same length and characters; most names differ in their first few.
        const char* node_name = tree[n].name;
        size_t same = 0;
        while (same < length && node_name[same] == start[same]) same++;
        if (same != length || node_name[length] != '\0') continue;
        if (length + 1 > out_size) break;  // cannot even hold this component
        if (last_component) {
            memcpy(out, node_name, length + 1);
            found = true;
        } else if (tree[n].child != QFILE_NO_NODE && length + 2 < out_size) {
            // Write "name\" and let the child chain fill in behind it.
            if (qfile_find_below(rest, out + length + 1, out_size - (uint32_t)length - 1, tree,
                                 tree[n].child)) {
                memcpy(out, node_name, length);
                out[length] = '\\';
                found = true;
            }
        }
    }
    if (!found) out[0] = '\0';
    QBUG_LEAVE(__func__);
    return found;
}

bool qfile_find_full_path(const char* name, char* out, const QFILE_TREE_NODE* tree, uint32_t node) {
    QBUG_ENTER(__func__);
    bool found = false;
    QBUG_ASSERT(out != NULL);
    QBUG_ASSERT(tree != NULL);
    if (name != NULL && name[0] != '\0' && out != NULL && tree != NULL) {
        found = qfile_find_below(name, out, QFILE_PATH_SIZE, tree, node);
    }
    QBUG_LEAVE(__func__);
    return found;
}

void qfile_dump_structured_directory(FILE* stream, const QFILE_TREE_NODE* tree, uint32_t node,
                                     int32_t depth) {
    QBUG_ENTER(__func__);
    if (stream != NULL && tree != NULL) {
        // Siblings in a loop, children by recursion: long directories cost no stack.
        for (uint32_t n = node; n != QFILE_NO_NODE; n = tree[n].next) {
            for (int32_t i = 0; i < depth; i++) fputs("\t", stream);
            fprintf(stream, "%s\n", tree[n].name);
            if (tree[n].child != QFILE_NO_NODE)
                qfile_dump_structured_directory(stream, tree, tree[n].child, depth + 1);
        }
    }
    QBUG_LEAVE(__func__);
}

// ---------------------------------------------------------------------------
// Resolution

// Explicit names are tried on disk as given: a name beginning with ".", or one
// of at least two characters holding a colon or two adjacent backslashes.
static bool qfile_is_explicit(const char* name) {
    QBUG_ENTER(__func__);
    bool is_explicit = name[0] == '.';
    for (size_t i = 0; !is_explicit && name[i] != '\0' && name[i + 1] != '\0'; i++) {
        is_explicit =
            name[i] == ':' || name[i + 1] == ':' || (name[i] == '\\' && name[i + 1] == '\\');
    }
    QBUG_LEAVE(__func__);
    return is_explicit;
}

char* QFILE_make_full_path(const char* name) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    const char* refused = NULL;
    if (!d->active) {
        refused = "QFILE_make_full_path: QFILE not initialised";
    } else if (name == NULL || name[0] == '\0') {
        refused = "QFILE_make_full_path: String size of zero";
    }
    if (refused != NULL) {
        QBUG_TRACE("%s", refused);
        QBUG_LEAVE(__func__);
        return NULL;
    }
    bool has_dot = strchr(name, '.') != NULL;
    bool is_explicit = qfile_is_explicit(name);
    // result = the name, with the extension unless it has a dot.
    const char* extension = has_dot ? "" : d->extension;
    if (!qfile_join(d->result, QFILE_PATH_SIZE, name, extension)) {
        QBUG_TRACE("QFILE_make_full_path: name too long: %s", name);
        QBUG_LEAVE(__func__);
        return NULL;
    }
    if (is_explicit && qfile_read_status(d->result)) {
        QBUG_LEAVE(__func__);
        return d->result;
    }

    if (!d->use_tree) {
        // Slot path and name are joined as they are: no separator is added.
        for (uint32_t i = 0; d->search_paths != NULL && i < d->search_path_count; i++) {
            const char* slot_path = d->search_paths[i].path;
            if (slot_path[0] == '\0') break;
            if (qfile_join(d->candidate, QFILE_PATH_SIZE, slot_path, d->result) &&
                qfile_read_status(d->candidate)) {
                QBUG_LEAVE(__func__);
                return d->candidate;
            }
        }
        QBUG_LEAVE(__func__);
        return NULL;
    }

    char key[QFILE_PATH_SIZE];
    char found[QFILE_PATH_SIZE];
    qfile_copy_string(key, d->result, QFILE_PATH_SIZE);
    for (uint32_t i = 0; d->search_paths != NULL && i < d->search_path_count; i++) {
        const QFILE_SEARCH_PATH* slot = &d->search_paths[i];
        if (slot->file_tree == NULL || slot->count == 0) continue;
        if (!qfile_find_full_path(key, found, slot->file_tree, 0)) continue;
        size_t slot_length = strlen(slot->path);
        bool separate =
            found[0] != '\\' && (slot_length == 0 || slot->path[slot_length - 1] != '\\');
        // Built in the candidate buffer, so that a path that does not fit
        // leaves nothing half-made in the result.
        if (qfile_join(d->candidate, QFILE_PATH_SIZE, slot->path, separate ? "\\" : "") &&
            qfile_join(d->candidate, QFILE_PATH_SIZE, d->candidate, found)) {
            memcpy(d->result, d->candidate, QFILE_PATH_SIZE);
            QBUG_LEAVE(__func__);
            return d->result;
        }
    }
    QBUG_LEAVE(__func__);
    return NULL;
}

// ---------------------------------------------------------------------------
// File I/O

FILE* qfile_fopen(const char* name, const char* mode, uint8_t search, const char* file,
                  int32_t line) {
    QBUG_ENTER(__func__);
    const char* path = name;
    if (search == 1 && local_qfile_details.active && name != NULL) {
        const char* resolved = QFILE_make_full_path(name);
        if (resolved != NULL) path = resolved;
    }
    FILE* stream = (path != NULL && mode != NULL) ? fopen(path, mode) : NULL;
    if (stream == NULL) {
        QBUG_TRACE("Failed to open '%s' ('%s') in %s at line %d", path ? path : "",
                   name ? name : "", file ? file : "", line);
    }
    QBUG_LEAVE(__func__);
    return stream;
}

uint8_t qfile_fclose(FILE* stream, const char* file, int32_t line) {
    QBUG_ENTER(__func__);
    int result = stream != NULL ? fclose(stream) : EOF;
    if (result != 0) QBUG_TRACE("Failed to close file in %s at line %d", file ? file : "", line);
    QBUG_LEAVE(__func__);
    return (uint8_t)result;
}

size_t QFILE_fread(void* buffer, size_t size, size_t count, FILE* stream) {
    QBUG_ENTER(__func__);
    size_t items = (buffer != NULL && stream != NULL) ? fread(buffer, size, count, stream) : 0;
    QBUG_LEAVE(__func__);
    return items;
}

size_t QFILE_fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    QBUG_ENTER(__func__);
    size_t items = (buffer != NULL && stream != NULL) ? fwrite(buffer, size, count, stream) : 0;
    QBUG_LEAVE(__func__);
    return items;
}

int QFILE_fseek(FILE* stream, long distance, int origin) {
    QBUG_ENTER(__func__);
    int result = stream != NULL ? fseek(stream, distance, origin) : -1;
    QBUG_LEAVE(__func__);
    return result;
}

// The size of the resolved path: the kept status, read again after a tree
// hit (which reads nothing from disk). False when it cannot be read or the
// file is too large for one block.
static bool qfile_resolved_size(const char* path, uint32_t* size) {
    QBUG_ENTER(__func__);
    bool known = !local_qfile_details.use_tree || qfile_read_status(path);
    if (known) {
        int64_t bytes = local_qfile_details.file_status.st_size;
        known = bytes >= 0 && bytes <= INT32_MAX;
        if (known) *size = (uint32_t)bytes;
    }
    QBUG_LEAVE(__func__);
    return known;
}

bool QFILE_read_file(const char* name, void* buffer, uint32_t size) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    const char* path = (d->active && buffer != NULL) ? QFILE_make_full_path(name) : NULL;
    uint32_t wanted = size;
    if (path == NULL || (size == 0 && !qfile_resolved_size(path, &wanted))) {
        QBUG_LEAVE(__func__);
        return false;
    }
    FILE* stream = fopen(path, "rb");
    if (stream == NULL) {
        QBUG_LEAVE(__func__);
        return false;
    }
    uint32_t delivered;
    if (size == 0 && d->progress == NULL) {
        delivered = (uint32_t)fread(buffer, 1, wanted, stream);
    } else {
        delivered = qfile_chunk_fread(buffer, 1, wanted, stream, d->chunk_size, qfile_process);
    }
    // Only what was read is summed, also when the file shrank meanwhile.
    if (d->crc_state == 1) d->crc_total += qfile_buffer_crc(buffer, delivered);
    fclose(stream);
    QBUG_LEAVE(__func__);
    return true;
}

void* QFILE_allocate_and_read_file(const char* name, void* previous, uint32_t* size_out) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    const char* path = NULL;
    if (!d->active) {
        QBUG_TRACE("QFILE_allocate_and_read_file: QFILE not active");
    } else {
        path = QFILE_make_full_path(name);
    }
    if (path == NULL) {
        QBUG_LEAVE(__func__);
        return NULL;
    }
    uint32_t size = 0;
    if (!qfile_resolved_size(path, &size)) {
        // Kept as the log has always read, misspelling included.
        QBUG_TRACE("QFILE_allocate_and_read_file: Coudlnt get file stat data");
        QBUG_LEAVE(__func__);
        return NULL;
    }
    void* block = MEMORY_allocate(previous, (int32_t)size, MEMORY_FILL_ZERO,
                                  "QFILE_allocate_and_read_file", QBUG_FILE, __LINE__);
    if (block == NULL) {
        QBUG_TRACE("QFILE_allocate_and_read_file: Failed to allocate memory");
        QBUG_LEAVE(__func__);
        return NULL;
    }
    FILE* stream = fopen(path, "rb");
    if (stream == NULL) {
        // A zero-filled block is no file: give it back rather than pass it off as read.
        QBUG_TRACE("QFILE_allocate_and_read_file: Failed to open '%s'", path);
        qfile_release(&block);
        QBUG_LEAVE(__func__);
        return NULL;
    }
    uint32_t delivered = qfile_chunk_fread(block, 1, size, stream, d->chunk_size, qfile_process);
    if (size_out != NULL) *size_out = delivered;
    if (d->crc_state == 1) d->crc_total += qfile_buffer_crc(block, delivered);
    fclose(stream);
    QBUG_LEAVE(__func__);
    return block;
}

uint32_t qfile_chunk_fread(void* destination, uint32_t size, uint32_t count, FILE* stream,
                           uint32_t chunk, QFILE_PROGRESS_FUNCTION callback) {
    QBUG_ENTER(__func__);
    QFILE_DETAILS* d = &local_qfile_details;
    uint8_t* buffer = d->chunck_buffer;
    if (destination == NULL || stream == NULL || buffer == NULL || feof(stream)) {
        QBUG_LEAVE(__func__);
        return 0;
    }
    uint64_t wanted = (uint64_t)size * count;
    if (wanted > UINT32_MAX) wanted = UINT32_MAX;
    // Never more per read than the buffer holds.
    QBUG_ASSERT(chunk <= d->chunk_size);
    if (chunk > d->chunk_size) chunk = d->chunk_size;
    uint32_t total = 0;
    while (total < wanted) {
        uint32_t n = (uint32_t)(wanted - total) < chunk ? (uint32_t)(wanted - total) : chunk;
        size_t obtained = fread(buffer, 1, n, stream);
        memcpy((uint8_t*)destination + total, buffer, obtained);
        total += (uint32_t)obtained;
        if (callback != NULL) callback();
        if (ferror(stream)) QBUG_TRACE("qfile_chunk_fread: read failed after %u bytes", total);
        if (feof(stream) || obtained == 0) break;
    }
    QBUG_LEAVE(__func__);
    return total;
}

void qfile_process(void) {
    QBUG_ENTER(__func__);
    if (local_qfile_details.active && local_qfile_details.progress != NULL)
        local_qfile_details.progress();
    QBUG_LEAVE(__func__);
}

// ---------------------------------------------------------------------------
// Checksum

struct QFILE_CRC_TABLE {
    uint16_t entry[256];
};

// CRC-16 table of polynomial 0x1021, most significant bit first.
static constexpr QFILE_CRC_TABLE qfile_make_crc_table(void) {
    QFILE_CRC_TABLE table = {};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; bit++) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
        table.entry[i] = (uint16_t)crc;
    }
    return table;
}

static constexpr QFILE_CRC_TABLE qfile_crc_table = qfile_make_crc_table();

uint8_t QFILE_set_crc_state(uint8_t state) {
    QBUG_ENTER(__func__);
    uint8_t previous = local_qfile_details.crc_state;
    local_qfile_details.crc_state = state;
    QBUG_LEAVE(__func__);
    return previous;
}

void QFILE_set_crc_total(uint32_t total) {
    QBUG_ENTER(__func__);
    local_qfile_details.crc_total = total;
    QBUG_LEAVE(__func__);
}

uint32_t QFILE_get_crc_total(void) {
    QBUG_ENTER(__func__);
    QBUG_LEAVE(__func__);
    return local_qfile_details.crc_total;
}

uint32_t qfile_buffer_crc(const void* data, uint32_t length) {
    QBUG_ENTER(__func__);
    if (data == NULL || length == 0) {
        QBUG_LEAVE(__func__);
        return 0;
    }
    const uint8_t* bytes = (const uint8_t*)data;
    uint16_t forward = 0xFFFF;
    for (uint32_t i = 0; i < length; i++) {
        forward = (uint16_t)(qfile_crc_table.entry[(forward >> 8) ^ bytes[i]] ^ (forward << 8));
    }
    uint16_t backward = 0x4110;
    for (uint32_t i = length; i-- > 0;) {
        backward = (uint16_t)(qfile_crc_table.entry[(backward >> 8) ^ bytes[i]] ^ (backward << 8));
    }
    QBUG_LEAVE(__func__);
    return ((uint32_t)forward << 16) | backward;
}
