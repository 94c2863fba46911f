// message: message files, the foundation library's localised texts.
//
// A message file is a sequence of 16-bit units, low byte first. Unit 0 is the
// byte-order mark 0xFEFF (plain) or 0x0100 (enciphered: every unit of the file
// complemented). Then one block per message: "[", the id, "]", the rest of
// the header line up to a line feed, the text, and one line feed. The last
// header ("[END_OF_FILE]" in files the writer makes) is never a message.
//
// Files load into a fixed number of slots (MESSAGE_initialise); a handle is a
// slot index. Mode 0 cuts ids and texts in place out of the loaded text and
// the table is read-only; mode 1 (MESSAGE_MODE_EDITABLE) gives every entry
// its own copies, and the table can be edited and written back.
//
// Memory comes from the run-time heap. Single-threaded: the slot table and the
// output enciphering switch are process-wide and unlocked.
#ifndef MESSAGE_H
#define MESSAGE_H

#include <stdint.h>

#define MESSAGE_MODE_IN_PLACE 0
#define MESSAGE_MODE_EDITABLE 1

// Lengths beyond these measure 0 (unicodelen also writes a retail line).
#define MESSAGE_MAX_UNICODE_LENGTH 200000
#define MESSAGE_MAX_APPEND_LENGTH  200

// The syntax errors the loader reports.
#define MESSAGE_ERROR_NESTED_OPEN    "'[' inside '['"
#define MESSAGE_ERROR_STRAY_CLOSE    "']' before '['"
#define MESSAGE_ERROR_NEWLINE_BEFORE "Insert newline before '['"
#define MESSAGE_ERROR_NEWLINE_AFTER  "Insert newline after ']'"

struct MESSAGE_ENTRY {
    char* id;        // 8-bit string
    int32_t magic;   // message_calc_message_id_magic_number (id)
    uint16_t* text;  // 16-bit string ending in a 0 unit
};

struct MESSAGE_FILE {
    uint8_t in_use;          // 1 while the slot holds a loaded file
    uint16_t* data;          // the loaded text; mode 0 entries point into it
    MESSAGE_ENTRY* entries;  // table order; null when empty
    int32_t count;           // entries in use
    int32_t capacity;        // entries allocated
    uint32_t mode;           // MESSAGE_MODE_EDITABLE or anything else (in place)
    // Kept by the module beside the table:
    int32_t units;        // units loaded into data (data holds one more, a 0)
    int32_t* index;       // open-addressing hash of entry indices, -1 = empty;
                          // null means lookups scan the table
    uint32_t index_mask;  // index size - 1 (a power of two)
};

struct MESSAGE_ERROR {
    uint8_t error;           // 1 after a syntax error
    const char* error_text;  // one of the MESSAGE_ERROR_* texts, or null
    char* file_name;         // copy of the file name after a -2 load; caller frees it
    uint16_t* position;      // the offending unit (null once the loader released the text)
    int32_t line;            // 1-based line of the error, -1 when none
};

// Allocates `slots` free slots and switches output enciphering on. False when
// the table cannot be allocated, slots is negative, or the module is already
// initialised (the table in place, and the files in it, are kept).
bool MESSAGE_initialise(int32_t slots);
// Frees the slot table; zero slots afterwards. Loaded files are not released:
// deallocate them first.
void MESSAGE_deinitialise(void);

// Loads file_name into the first free slot. mode: MESSAGE_MODE_EDITABLE or
// in place. Returns the handle, -1 when no slot is free (or the module is not
// initialised, or memory runs out while building the table; the slot stays
// free), -2 on a syntax error (error, when given, then holds the text, the
// line and a newly allocated copy of the file name). A file that cannot be
// read loads as an empty table.
int32_t MESSAGE_allocate_message_file(const char* file_name, uint8_t mode, MESSAGE_ERROR* error);
// Releases the slot's text, entries and copies and marks it free. An invalid
// handle does nothing.
void MESSAGE_deallocate_message_file(int32_t handle);

// Adds a message at the end of the table. In mode 1 id and text are copied (a
// null text becomes a lone CR); in other modes the pointers are stored and
// stay the caller's. False for an invalid handle, a null id, an id already
// present, a text longer than MESSAGE_MAX_UNICODE_LENGTH (mode 1), or when
// memory runs out (the table is then unchanged). Also false, in every mode and
// with a trace line, for what a written file could not carry: "[" or "]" in
// the id or the text, a line feed in the id, or an id longer than
// MESSAGE_MAX_UNICODE_LENGTH. A text may hold line feeds.
bool MESSAGE_insert_message(int32_t handle, const char* id, const uint16_t* text);

// Lookups; the pointers returned live in the slot until the entry changes or
// the file is deallocated. Null for an invalid handle or an id not present.
const uint16_t* MESSAGE_get_message(int32_t handle, const char* id);
const char* MESSAGE_get_first_message_id(int32_t handle);
// The id after `id` in table order; null also after the last entry.
const char* MESSAGE_get_next_message_id(int32_t handle, const char* id);
// The number of messages, -1 for an invalid handle.
int32_t MESSAGE_count_messages(int32_t handle);

// Mode 1 only: replaces the text of an existing message with a copy of text.
// Does nothing for an invalid handle, another mode, an id not present, a null
// or overlong text, or when memory runs out (the old text then stays); nor,
// with a trace line, for an id or a text a file cannot carry (as above).
void MESSAGE_set_message(int32_t handle, const char* id, const uint16_t* text);
// Mode 1 only: removes the message, closing the gap in table order. False for
// an invalid handle, another mode, or an id not present.
bool MESSAGE_remove_message(int32_t handle, const char* id);

// Stores the output enciphering state (exactly 1 enciphers) and returns the
// previous one.
uint8_t MESSAGE_set_output_encrypt_state(uint8_t state);
// Mode 1 only: writes the table as a message file, enciphered when the state
// is 1. Does nothing for an invalid handle, another mode, a null name, or when
// the text cannot be built (the file is then not touched).
void MESSAGE_write_message_file(int32_t handle, const char* file_name);

// 16-bit strings.
// Units including the terminator; 0 for null, and 0 with the retail line
// "Length is too big" for more than MESSAGE_MAX_UNICODE_LENGTH characters.
int32_t unicodelen(const uint16_t* s);
// Copies source and its terminator; nothing when either is null.
void unicodecpy(uint16_t* destination, const uint16_t* source);
// True when both are non-null and hold the same units.
bool unicodecmp(const uint16_t* a, const uint16_t* b);
// Characters before the terminator; 0 for null or more than
// MESSAGE_MAX_APPEND_LENGTH characters.
int32_t myunicodelen(const uint16_t* s);
// Copies source to the end of destination (which must have room). Does
// nothing when source measures 0 by myunicodelen or destination is null; a
// destination measuring 0 is overwritten from its start.
void MESSAGE_append(uint16_t* destination, const uint16_t* source);
// A new 8-bit string of the low bytes; the caller frees it. Null for a string
// that measures 0 or when memory runs out.
char* MESSAGE_unicode_to_ascii(const uint16_t* s);
// A new 16-bit string: each byte widened as a signed value, then CR and the
// terminator. The caller frees it. Null for a null s or when memory runs out.
uint16_t* MESSAGE_ascii_to_unicode(const char* s);

// Private steps, declared for the module's own tests and benchmark.
bool message_valid_handle(int32_t handle);
// The slot record of a handle in range (in use or not), else null.
MESSAGE_FILE* message_get_slot(int32_t handle);
MESSAGE_ENTRY* message_get_list_object(int32_t handle, const char* id);
int32_t message_calc_message_id_magic_number(const char* id);
MESSAGE_ENTRY* message_get_new_message_str(int32_t handle);
void message_deallocate_message_str(MESSAGE_ENTRY* entry);
int32_t message_read_message_file(int32_t handle, const char* file_name);
int32_t message_count(int32_t handle, int32_t n, MESSAGE_ERROR* error);
bool mark_messages(int32_t handle, int32_t m);
void message_convert_marked_ids(uint16_t* id);
void message_decrypt_xor(int32_t handle, uint16_t* units, int32_t n);
void message_encrypt_xor(int32_t handle, uint16_t* units, int32_t n);

#endif
