// qfile: file access for the foundation library.
//
// Turns a bare file name into a path that exists, through a default extension
// and a fixed number of search-path slots. Each slot may carry a name tree
// built by walking its directory once; look-ups through the trees read nothing
// from disk. Beside the resolver sit traced wrappers of the stream functions,
// whole-file and chunked readers and a running checksum of what they read.
//
// The module is inactive until QFILE_initialise; qfile_fopen then opens names
// exactly as passed. Slot arrays, trees and the chunk buffer come from the
// tracked allocator, so MEMORY_initialise must have run first.
#ifndef QFILE_H
#define QFILE_H

#include <stdint.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/stat.h>

#define QFILE_PATH_SIZE 256          // every path and extension buffer, zero included
#define QFILE_NAME_SIZE 13           // a tree node's name: 12 characters and the zero
#define QFILE_NO_NODE   0xFFFFFFFFu  // "no sibling" / "no child" in a tree node

#define QFILE_DEFAULT_SEARCH_PATH_COUNT 4
#define QFILE_DEFAULT_TREE_CAPACITY     5000
#define QFILE_DEFAULT_TREE_GROWTH       1000
#define QFILE_DEFAULT_CHUNK_SIZE        200000

typedef void (*QFILE_PROGRESS_FUNCTION)(void);

#pragma pack(push, 1)
// The optional argument of QFILE_initialise. The reserved fields are kept in
// the module state and read by nothing.
struct QFILE_SETTINGS {
    uint32_t search_path_count;        // number of search-path slots
    uint32_t initial_tree_capacity;    // nodes reserved when a slot's tree is first built
    char extension[QFILE_PATH_SIZE];   // default extension, dot included ("" = none)
    uint32_t tree_growth_step;         // nodes added each time a tree is full
    uint32_t chunk_size;               // bytes of the chunk buffer and of each chunked read
    QFILE_PROGRESS_FUNCTION progress;  // called after every chunk of a whole-file read, or NULL
    int32_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t crc_state;  // 1 = whole-file reads add their checksum to the total
    char reserved_4[QFILE_PATH_SIZE];
    char reserved_5[QFILE_PATH_SIZE];
    int32_t reserved_6;
};

// One entry of a name tree. Entries of one directory form a sibling chain
// through next; a directory's entries start at its child.
struct QFILE_TREE_NODE {
    uint32_t next;               // index of the next sibling, QFILE_NO_NODE = none
    uint32_t child;              // index of the first child, QFILE_NO_NODE = none
    char name[QFILE_NAME_SIZE];  // lower case, at most 12 significant characters
};
#pragma pack(pop)

// A search-path slot; an empty path is a free slot.
struct QFILE_SEARCH_PATH {
    char path[QFILE_PATH_SIZE];  // lower case, used as given (no separator added)
    QFILE_TREE_NODE* file_tree;  // node array, NULL while no tree is built
    uint32_t capacity;           // nodes the array can hold
    uint32_t count;              // nodes in use; node 0 starts the top directory
};

// The module's one process-wide state.
struct QFILE_DETAILS {
    uint8_t active;    // 1 between QFILE_initialise and QFILE_deinitialise
    uint8_t use_tree;  // 1 = resolve through the name trees, 0 = on disk
    char extension[QFILE_PATH_SIZE];
    QFILE_SEARCH_PATH* search_paths;  // search_path_count slots
    uint32_t search_path_count;
    uint32_t initial_tree_capacity;
    uint32_t tree_growth_step;
    uint32_t chunk_size;
    QFILE_PROGRESS_FUNCTION progress;
    int32_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t crc_state;
    char reserved_4[QFILE_PATH_SIZE];
    char reserved_5[QFILE_PATH_SIZE];
    int32_t reserved_6;
    uint8_t* chunck_buffer;  // chunk_size bytes
    uint32_t crc_total;
    QFILE_SEARCH_PATH* building_slot;  // slot whose tree is being walked, NULL = none
    uint8_t building_failed;           // 1 = an entry of that walk found no room
    struct _stati64 file_status;       // status of the last path found on disk
    char result[QFILE_PATH_SIZE];      // what QFILE_make_full_path returns ...
    char candidate[QFILE_PATH_SIZE];   // ... from one of these two
};

extern QFILE_DETAILS local_qfile_details;

// --- Life cycle -----------------------------------------------------------

// Activates the module with settings (NULL = the defaults): allocates the slot
// array and the chunk buffer, use tree = 1, CRC total = 0. False when already
// active or when either block cannot be had (the module then stays inactive).
bool QFILE_initialise(const QFILE_SETTINGS* settings);
// Releases the chunk buffer, every tree and the slot array; inactive after.
// False when there was no slot array.
bool QFILE_deinitialise(void);

// --- Search paths -----------------------------------------------------------

// Empties every slot, then adds each of the count directory paths (const
// char*) and builds its tree. Returns the number of paths added.
int32_t QFILE_set_search_paths(int32_t count, ...);
// Puts path (lower-cased, used as given) into the first free slot and returns
// its index; -1 when no slot is free, path is NULL or does not fit.
int32_t QFILE_add_search_path(const char* path);
// The slot's path text, or NULL for an index outside the slots.
const char* QFILE_get_search_path(int32_t index);
// Empties slot index (-1 = every slot) and releases its tree.
void qfile_clear_search_path(int32_t index);

// The default extension, dot included; stored in lower case. False for NULL
// or a text that does not fit.
bool QFILE_set_extension(const char* text);
const char* QFILE_get_extension(void);

// 1 = resolve through the name trees, 0 = through the directories on disk.
// Any other flag is refused (false) and the setting stays.
bool QFILE_set_use_tree_to_find_files(int32_t flag);
uint8_t QFILE_get_use_tree_to_find_files(void);

// --- Resolution -----------------------------------------------------------

// Resolves name to an existing path: an explicit name (beginning with ".",
// or holding ":" or "\\") is tried on disk first; then every slot, on disk or
// through its tree. The default extension is added to names without a dot.
// Returns a module buffer valid until the next call, or NULL when nothing is
// found, the module is inactive, or a path would not fit in 255 characters.
char* QFILE_make_full_path(const char* name);

// Builds slot index's name tree from its directory (-1 = every slot with a
// path, always true). False for a bad index or an empty slot.
bool QFILE_build_file_tree(int32_t index);

// Looks name (a relative path in lower case, as the resolver passes it;
// components compared over their first 12 characters) up in tree from node
// on, across node's sibling chain and below. On success out
// (QFILE_PATH_SIZE characters) holds the path as the tree spells it.
bool qfile_find_full_path(const char* name, char* out, const QFILE_TREE_NODE* tree, uint32_t node);
// The walker's callback: adds one reported path to the tree of its slot.
void qfile_file_tree_callback_function(const char* path, int32_t kind);
// Appends a node named name (lower-cased, cut to 12) to slot's tree, growing
// it when full. Returns the node's index, or -1 when the tree cannot grow.
int32_t qfile_add_entry_to_file_tree(QFILE_SEARCH_PATH* slot, const char* name);
// Replaces slot's tree with an empty one of capacity nodes. False (no tree)
// when the array cannot be had.
bool qfile_allocate_file_tree(QFILE_SEARCH_PATH* slot);
// Grows slot's tree by the growth step; false leaves it as it was.
bool qfile_reallocate_file_tree(QFILE_SEARCH_PATH* slot);
// Copies at most size-1 characters of source, lower-cased, and a zero. False
// (nothing written) for a NULL pointer or size 0.
bool qfile_copy_string(char* destination, const char* source, uint32_t size);
// Writes the tree from node on as a list: each entry on its own line after
// depth tabs, followed by its contents one tab further in.
void qfile_dump_structured_directory(FILE* stream, const QFILE_TREE_NODE* tree, uint32_t node,
                                     int32_t depth);

// --- File I/O -----------------------------------------------------------

// Opens name with mode; with search 1 on an active module the resolved path
// is opened instead (the bare name when it resolves to nothing). A failure is
// reported with the path tried, the name and the caller's file and line.
FILE* qfile_fopen(const char* name, const char* mode, uint8_t search, const char* file,
                  int32_t line);
// Closes stream: 0 on success, else the low byte of the close result.
uint8_t qfile_fclose(FILE* stream, const char* file, int32_t line);
// The standard stream calls, traced; nothing else.
size_t QFILE_fread(void* buffer, size_t size, size_t count, FILE* stream);
size_t QFILE_fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int QFILE_fseek(FILE* stream, long distance, int origin);

// Reads the file that name resolves to into buffer: size bytes, or the whole
// file for size 0 (buffer must hold it). False when the module is inactive or
// the file is not found or not opened.
bool QFILE_read_file(const char* name, void* buffer, uint32_t size);
// Reads the file that name resolves to into a new tracked block (previous:
// the receiving variable's current value) and stores the bytes read in
// size_out. NULL when inactive, unresolved, empty, or not readable.
void* QFILE_allocate_and_read_file(const char* name, void* previous, uint32_t* size_out);
// Reads size*count bytes from stream into destination through the chunk
// buffer, chunk bytes at a time (at most the buffer's size), calling callback
// after every chunk. Returns the bytes read; 0 at end of file.
uint32_t qfile_chunk_fread(void* destination, uint32_t size, uint32_t count, FILE* stream,
                           uint32_t chunk, QFILE_PROGRESS_FUNCTION callback);
// Per-chunk callback of the whole-file readers: calls the configured progress
// function when the module is active.
void qfile_process(void);

// --- Checksum -----------------------------------------------------------

// Sets the CRC state (1 = on) and returns the previous one.
uint8_t QFILE_set_crc_state(uint8_t state);
void QFILE_set_crc_total(uint32_t total);
uint32_t QFILE_get_crc_total(void);
// Two CRC-16s (polynomial 0x1021) of data: high half forward from 0xFFFF, low
// half backward from 0x4110. 0 for length 0.
uint32_t qfile_buffer_crc(const void* data, uint32_t length);

#endif
