// message: message files (see message.h for the format and the contracts).
#include "message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "qbug.h"
#include "qfile.h"

#define MESSAGE_UNIT_BOM        0xFEFFu
#define MESSAGE_UNIT_ENCIPHERED 0x0100u
#define MESSAGE_UNIT_OPEN       0x005Bu  // [
#define MESSAGE_UNIT_CLOSE      0x005Du  // ]
#define MESSAGE_UNIT_LF         0x000Au
#define MESSAGE_UNIT_CR         0x000Du
#define MESSAGE_UNIT_TAB        0x0009u
#define MESSAGE_UNIT_SPACE      0x0020u

// The source name of the module's fixed-path retail lines.
#define MESSAGE_SOURCE_NAME "message"

static const char message_end_marker[] = "[END_OF_FILE]";  // 13 bytes
#define MESSAGE_END_MARKER_UNITS 13

static MESSAGE_FILE* message_slots = NULL;
static int32_t message_slot_count = 0;
static uint8_t message_output_encrypt = 1;

static char* message_copy_string(const char* s) {
    QBUG_ENTER("message_copy_string");
    size_t length = strlen(s) + 1;
    char* copy = (char*)malloc(length);
    if (copy != NULL) memcpy(copy, s, length);
    QBUG_LEAVE("message_copy_string");
    return copy;
}

// A 16-bit unit made from an 8-bit character widened as a signed value:
// 0x80..0xFF become 0xFF80..0xFFFF, as the files have always held them.
#define MESSAGE_WIDEN(c) ((uint16_t)(int16_t)(signed char)(c))

// ---------------------------------------------------------------------------
// Module life cycle and slots.

bool MESSAGE_initialise(int32_t slots) {
    QBUG_ENTER("MESSAGE_initialise");
    // A second call would lose the table and every file loaded into it.
    if (message_slots != NULL || slots < 0) {
        QBUG_TRACE("MESSAGE_initialise: already initialised or %d slots", (int)slots);
        QBUG_LEAVE("MESSAGE_initialise - refused");
        return false;
    }
    // A table of no slots still takes a block: a non-null table is what
    // marks the module initialised, and malloc(0) may give null.
    MESSAGE_FILE* table =
        (MESSAGE_FILE*)malloc(sizeof(MESSAGE_FILE) * (size_t)(slots > 0 ? slots : 1));
    if (table == NULL) {
        QBUG_LEAVE("MESSAGE_initialise - malloc failed");
        return false;
    }
    memset(table, 0, sizeof(MESSAGE_FILE) * (size_t)slots);
    message_slots = table;
    message_slot_count = slots;
    message_output_encrypt = 1;
    QBUG_LEAVE("MESSAGE_initialise");
    return true;
}

void MESSAGE_deinitialise(void) {
    QBUG_ENTER("MESSAGE_deinitialise");
    free(message_slots);
    message_slots = NULL;
    message_slot_count = 0;
    QBUG_LEAVE("MESSAGE_deinitialise");
}

MESSAGE_FILE* message_get_slot(int32_t handle) {
    QBUG_ENTER("message_get_slot");
    if (message_slots == NULL || handle < 0 || handle >= message_slot_count) {
        QBUG_LEAVE("message_get_slot");
        return NULL;
    }
    QBUG_LEAVE("message_get_slot");
    return &message_slots[handle];
}

bool message_valid_handle(int32_t handle) {
    QBUG_ENTER("message_valid_handle");
    MESSAGE_FILE* slot = message_get_slot(handle);
    bool valid = slot != NULL && slot->in_use == 1;
    QBUG_LEAVE("message_valid_handle");
    return valid;
}

// Frees everything the slot owns and leaves it zero (free).
static void message_release_slot(MESSAGE_FILE* slot) {
    QBUG_ENTER("message_release_slot");
    if (slot->mode == MESSAGE_MODE_EDITABLE && slot->entries != NULL) {
        for (int32_t i = 0; i < slot->count; i++) message_deallocate_message_str(&slot->entries[i]);
    }
    free(slot->entries);
    free(slot->data);
    free(slot->index);
    memset(slot, 0, sizeof(*slot));
    QBUG_LEAVE("message_release_slot");
}

// ---------------------------------------------------------------------------
// The id index: open addressing over entry indices, at most half full, so a
// lookup costs the same whatever the table's size. It is only a shortcut:
// without it (memory ran out) lookups scan the table, with the same results.

static uint32_t message_hash_id(const char* id) {
    QBUG_ENTER("message_hash_id");
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const unsigned char* p = (const unsigned char*)id; *p != 0; p++) {
        hash ^= *p;
        hash *= 16777619u;
    }
    QBUG_LEAVE("message_hash_id");
    return hash;
}

static void message_index_add(MESSAGE_FILE* slot, int32_t entry) {
    QBUG_ENTER("message_index_add");
    uint32_t at = message_hash_id(slot->entries[entry].id) & slot->index_mask;
    while (slot->index[at] >= 0) at = (at + 1) & slot->index_mask;
    slot->index[at] = entry;
    QBUG_LEAVE("message_index_add");
}

// Fills the index from the table, in place.
static void message_index_refill(MESSAGE_FILE* slot) {
    QBUG_ENTER("message_index_refill");
    if (slot->index != NULL) {
        for (uint32_t i = 0; i <= slot->index_mask; i++) slot->index[i] = -1;
        for (int32_t i = 0; i < slot->count; i++) message_index_add(slot, i);
    }
    QBUG_LEAVE("message_index_refill");
}

// Gives the slot an index sized for at least `expected` entries. When memory
// runs out the slot is left without one.
static void message_index_resize(MESSAGE_FILE* slot, int32_t expected) {
    QBUG_ENTER("message_index_resize");
    if (expected < slot->count) expected = slot->count;
    free(slot->index);
    slot->index = NULL;
    slot->index_mask = 0;
    if (expected > (1 << 27)) {
        QBUG_LEAVE("message_index_resize - too many entries");
        return;
    }
    uint32_t size = 16;
    while (size < (uint32_t)expected * 4u) size *= 2;
    int32_t* index = (int32_t*)malloc(size * sizeof(int32_t));
    if (index == NULL) {
        QBUG_TRACE("message_index_resize: no memory for %u places", (unsigned)size);
        QBUG_LEAVE("message_index_resize - malloc failed");
        return;
    }
    slot->index = index;
    slot->index_mask = size - 1;
    message_index_refill(slot);
    QBUG_LEAVE("message_index_resize");
}

// Brings the index up to date after entry `entry` was added at the end.
static void message_index_added(MESSAGE_FILE* slot, int32_t entry) {
    QBUG_ENTER("message_index_added");
    if (slot->index != NULL && (uint32_t)slot->count * 2u <= slot->index_mask + 1u) {
        message_index_add(slot, entry);
    } else {
        message_index_resize(slot, slot->count);
    }
    QBUG_LEAVE("message_index_added");
}

// ---------------------------------------------------------------------------
// Entries.

int32_t message_calc_message_id_magic_number(const char* id) {
    QBUG_ENTER("message_calc_message_id_magic_number");
    int32_t magic = 0;
    if (id != NULL) {
        for (const char* p = id; *p != 0; p++) magic += (signed char)*p;
    }
    QBUG_LEAVE("message_calc_message_id_magic_number");
    return magic;
}

MESSAGE_ENTRY* message_get_list_object(int32_t handle, const char* id) {
    QBUG_ENTER("message_get_list_object");
    MESSAGE_FILE* slot = message_get_slot(handle);
    if (slot == NULL || id == NULL || slot->entries == NULL) {
        QBUG_LEAVE("message_get_list_object");
        return NULL;
    }
    int32_t magic = message_calc_message_id_magic_number(id);
    MESSAGE_ENTRY* entries = slot->entries;
    if (slot->index != NULL) {
        // Ids are unique, but should a table ever hold one twice, the first
        // in table order still wins: keep the lowest index that matches.
        int32_t found = -1;
        uint32_t at = message_hash_id(id) & slot->index_mask;
        for (int32_t i; (i = slot->index[at]) >= 0; at = (at + 1) & slot->index_mask) {
            if ((found < 0 || i < found) && entries[i].magic == magic && entries[i].id != NULL &&
                strcmp(entries[i].id, id) == 0) {
                found = i;
            }
        }
        QBUG_LEAVE("message_get_list_object");
        return found >= 0 ? &entries[found] : NULL;
    }
    for (int32_t i = 0; i < slot->count; i++) {
        if (entries[i].magic == magic && entries[i].id != NULL && strcmp(entries[i].id, id) == 0) {
            QBUG_LEAVE("message_get_list_object");
            return &entries[i];
        }
    }
    QBUG_LEAVE("message_get_list_object");
    return NULL;
}

MESSAGE_ENTRY* message_get_new_message_str(int32_t handle) {
    QBUG_ENTER("message_get_new_message_str");
    MESSAGE_FILE* slot = message_get_slot(handle);
    if (slot == NULL) {
        QBUG_LEAVE("message_get_new_message_str - no slot");
        return NULL;
    }
    QBUG_ASSERT(slot->count <= slot->capacity);
    if (slot->count >= slot->capacity) {
        if (slot->capacity > INT32_MAX - 5 ||
            (size_t)slot->capacity + 5 > SIZE_MAX / sizeof(MESSAGE_ENTRY)) {
            QBUG_LEAVE("message_get_new_message_str - table full");
            return NULL;
        }
        int32_t capacity = slot->capacity + 5;
        MESSAGE_ENTRY* grown =
            (MESSAGE_ENTRY*)realloc(slot->entries, sizeof(MESSAGE_ENTRY) * (size_t)capacity);
        if (grown == NULL) {
            QBUG_TRACE("message_get_new_message_str: realloc of %d entries failed", (int)capacity);
            QBUG_LEAVE("message_get_new_message_str - realloc failed");
            return NULL;
        }
        memset(&grown[slot->capacity], 0, sizeof(MESSAGE_ENTRY) * 5);
        slot->entries = grown;
        slot->capacity = capacity;
    }
    QBUG_LEAVE("message_get_new_message_str");
    return &slot->entries[slot->count];
}

void message_deallocate_message_str(MESSAGE_ENTRY* entry) {
    QBUG_ENTER("message_deallocate_message_str");
    if (entry != NULL) {
        free(entry->id);
        free(entry->text);
        entry->id = NULL;
        entry->text = NULL;
    }
    QBUG_LEAVE("message_deallocate_message_str");
}

#define MESSAGE_INSERTED  0
#define MESSAGE_REFUSED   1
#define MESSAGE_NO_MEMORY 2

// MESSAGE_insert_message with the reason for a refusal, so that the loader
// can skip a duplicate but give up when memory runs out.
static int message_insert(int32_t handle, const char* id, const uint16_t* text) {
    QBUG_ENTER("message_insert");
    if (!message_valid_handle(handle) || id == NULL ||
        message_get_list_object(handle, id) != NULL) {
        QBUG_LEAVE("message_insert - refused");
        return MESSAGE_REFUSED;
    }
    MESSAGE_FILE* slot = &message_slots[handle];
    char* id_stored = (char*)id;
    uint16_t* text_stored = (uint16_t*)text;
    if (slot->mode == MESSAGE_MODE_EDITABLE) {
        static const uint16_t lone_cr[2] = {MESSAGE_UNIT_CR, 0};
        const uint16_t* source = text != NULL ? text : lone_cr;
        int32_t length = unicodelen(source);
        if (length == 0) {  // longer than the module's limit: a copy cannot be sized
            QBUG_TRACE("MESSAGE_insert_message: text of '%s' too long", id);
            QBUG_LEAVE("message_insert - text too long");
            return MESSAGE_REFUSED;
        }
        id_stored = message_copy_string(id);
        text_stored = (uint16_t*)malloc(sizeof(uint16_t) * (size_t)length);
        if (id_stored == NULL || text_stored == NULL) {
            free(id_stored);
            free(text_stored);
            QBUG_TRACE("MESSAGE_insert_message: no memory for '%s'", id);
            QBUG_LEAVE("message_insert - malloc failed");
            return MESSAGE_NO_MEMORY;
        }
        unicodecpy(text_stored, source);
    }
    MESSAGE_ENTRY* entry = message_get_new_message_str(handle);
    if (entry == NULL) {
        if (slot->mode == MESSAGE_MODE_EDITABLE) {
            free(id_stored);
            free(text_stored);
        }
        QBUG_LEAVE("message_insert - no entry");
        return MESSAGE_NO_MEMORY;
    }
    entry->id = id_stored;
    entry->text = text_stored;
    entry->magic = message_calc_message_id_magic_number(id);
    slot->count++;
    message_index_added(slot, slot->count - 1);
    QBUG_LEAVE("message_insert");
    return MESSAGE_INSERTED;
}

// Which part of a message a file cannot carry: "id", "text" or null when both
// can. A "[" opens a header and a "]" closes one, in an id or a text alike;
// an id longer than the string limit reads back empty. An id is one line of
// the file: a line feed in it is refused too, although the reader would take
// it up to its "]". A text may hold line feeds. Enciphering complements the
// whole file and deciphering restores it before anything is read, so both
// output states carry the same. A null id or text is not looked at.
static const char* message_uncarried_part(const char* id, const uint16_t* text) {
    QBUG_ENTER("message_uncarried_part");
    size_t length = 0;
    for (const char* p = id; p != NULL && *p != 0; p++, length++) {
        if (*p == '[' || *p == ']' || *p == '\n' || length >= MESSAGE_MAX_UNICODE_LENGTH) {
            QBUG_LEAVE("message_uncarried_part - id");
            return "id";
        }
    }
    for (const uint16_t* p = text; p != NULL && *p != 0; p++) {
        if (*p == MESSAGE_UNIT_OPEN || *p == MESSAGE_UNIT_CLOSE) {
            QBUG_LEAVE("message_uncarried_part - text");
            return "text";
        }
    }
    QBUG_LEAVE("message_uncarried_part");
    return NULL;
}

bool MESSAGE_insert_message(int32_t handle, const char* id, const uint16_t* text) {
    QBUG_ENTER("MESSAGE_insert_message");
    const char* uncarried = message_valid_handle(handle) ? message_uncarried_part(id, text) : NULL;
    if (uncarried != NULL) {
        QBUG_TRACE("MESSAGE_insert_message: a message file cannot hold the %s of '%.64s'",
                   uncarried, id != NULL ? id : "");
        QBUG_LEAVE("MESSAGE_insert_message - refused");
        return false;
    }
    bool inserted = message_insert(handle, id, text) == MESSAGE_INSERTED;
    QBUG_LEAVE("MESSAGE_insert_message");
    return inserted;
}

// ---------------------------------------------------------------------------
// 16-bit strings.

// The number of units of s before its zero unit, or -1 when that is more
// than limit; no unit beyond the limit is read.
static int32_t message_length_within(const uint16_t* s, int32_t limit) {
    QBUG_ENTER("message_length_within");
    int32_t length = 0;
    while (length <= limit && s[length] != 0) length++;
    QBUG_LEAVE("message_length_within");
    return length > limit ? -1 : length;
}

int32_t unicodelen(const uint16_t* s) {
    QBUG_ENTER("unicodelen");
    int32_t units = 0;
    if (s != NULL) {
        int32_t length = message_length_within(s, MESSAGE_MAX_UNICODE_LENGTH);
        if (length < 0) {
            QBUG_fixed_retail_line(MESSAGE_SOURCE_NAME, __LINE__, "Length is too big");
        } else {
            units = length + 1;
        }
    }
    QBUG_LEAVE("unicodelen");
    return units;
}

void unicodecpy(uint16_t* destination, const uint16_t* source) {
    QBUG_ENTER("unicodecpy");
    if (destination != NULL && source != NULL) {
        int32_t i = 0;
        for (; source[i] != 0; i++) destination[i] = source[i];
        destination[i] = 0;
    }
    QBUG_LEAVE("unicodecpy");
}

bool unicodecmp(const uint16_t* a, const uint16_t* b) {
    QBUG_ENTER("unicodecmp");
    if (a == NULL || b == NULL || unicodelen(a) != unicodelen(b)) {
        QBUG_LEAVE("unicodecmp");
        return false;
    }
    for (int32_t i = 0; a[i] != 0; i++) {
        if (a[i] != b[i]) {
            QBUG_LEAVE("unicodecmp");
            return false;
        }
    }
    QBUG_LEAVE("unicodecmp");
    return true;
}

int32_t myunicodelen(const uint16_t* s) {
    QBUG_ENTER("myunicodelen");
    int32_t length = s != NULL ? message_length_within(s, MESSAGE_MAX_APPEND_LENGTH) : 0;
    QBUG_LEAVE("myunicodelen");
    return length < 0 ? 0 : length;
}

void MESSAGE_append(uint16_t* destination, const uint16_t* source) {
    QBUG_ENTER("MESSAGE_append");
    int32_t end = myunicodelen(destination);
    int32_t length = myunicodelen(source);
    if (destination != NULL && length > 0) {
        memcpy(destination + end, source, sizeof(uint16_t) * (size_t)length);
        destination[end + length] = 0;
    }
    QBUG_LEAVE("MESSAGE_append");
}

char* MESSAGE_unicode_to_ascii(const uint16_t* s) {
    QBUG_ENTER("MESSAGE_unicode_to_ascii");
    int32_t length = unicodelen(s);
    if (length == 0) {
        QBUG_LEAVE("MESSAGE_unicode_to_ascii - no string");
        return NULL;
    }
    char* ascii = (char*)malloc((size_t)length);
    if (ascii == NULL) {
        QBUG_LEAVE("MESSAGE_unicode_to_ascii - malloc failed");
        return NULL;
    }
    for (int32_t i = 0; i < length - 1; i++) ascii[i] = (char)(s[i] & 0xFF);
    ascii[length - 1] = 0;
    QBUG_LEAVE("MESSAGE_unicode_to_ascii");
    return ascii;
}

uint16_t* MESSAGE_ascii_to_unicode(const char* s) {
    QBUG_ENTER("MESSAGE_ascii_to_unicode");
    if (s == NULL) {
        QBUG_LEAVE("MESSAGE_ascii_to_unicode - null");
        return NULL;
    }
    size_t length = strlen(s);
    if (length > SIZE_MAX / sizeof(uint16_t) - 2) {
        QBUG_LEAVE("MESSAGE_ascii_to_unicode - too long");
        return NULL;
    }
    uint16_t* text = (uint16_t*)malloc(sizeof(uint16_t) * (length + 2));
    if (text == NULL) {
        QBUG_LEAVE("MESSAGE_ascii_to_unicode - malloc failed");
        return NULL;
    }
    for (size_t i = 0; i < length; i++) text[i] = MESSAGE_WIDEN(s[i]);
    text[length] = MESSAGE_UNIT_CR;
    text[length + 1] = 0;
    QBUG_LEAVE("MESSAGE_ascii_to_unicode");
    return text;
}

// ---------------------------------------------------------------------------
// Loading.

int32_t message_read_message_file(int32_t handle, const char* file_name) {
    QBUG_ENTER("message_read_message_file");
    MESSAGE_FILE* slot = message_get_slot(handle);
    FILE* stream = (slot != NULL && file_name != NULL)
                       ? qfile_fopen(file_name, "rb", 0, QBUG_FILE, __LINE__)
                       : NULL;
    struct stat status;
    if (stream == NULL || stat(file_name, &status) != 0) {
        if (stream != NULL) qfile_fclose(stream, QBUG_FILE, __LINE__);
        QBUG_TRACE("Cannot open file or access %s", file_name != NULL ? file_name : "(null)");
        QBUG_LEAVE("message_read_message_file - cannot open");
        return -1;
    }
    QBUG_ASSERT(slot->data == NULL);
    // Whole units only; one more unit holds a 0, so that every string cut out
    // of the text ends inside the buffer whatever the file holds.
    size_t units = (size_t)status.st_size / 2;
    uint16_t* data =
        units < (size_t)INT32_MAX ? (uint16_t*)malloc(sizeof(uint16_t) * (units + 1)) : NULL;
    if (data == NULL) {
        qfile_fclose(stream, QBUG_FILE, __LINE__);
        QBUG_TRACE("malloc crash: stat_size = %d", (int)status.st_size);
        QBUG_LEAVE("message_read_message_file - malloc failed");
        return -1;
    }
    size_t read = QFILE_fread(data, sizeof(uint16_t), units, stream);
    qfile_fclose(stream, QBUG_FILE, __LINE__);
    data[read] = 0;
    free(slot->data);
    slot->data = data;
    slot->units = (int32_t)read;
    QBUG_LEAVE("message_read_message_file");
    return (int32_t)read;
}

void message_decrypt_xor(int32_t handle, uint16_t* units, int32_t n) {
    QBUG_ENTER("message_decrypt_xor");
    (void)handle;
    if (units != NULL && n > 0 && units[0] == MESSAGE_UNIT_ENCIPHERED) {
        for (int32_t i = 0; i < n; i++) units[i] = (uint16_t)~units[i];
    }
    QBUG_LEAVE("message_decrypt_xor");
}

void message_encrypt_xor(int32_t handle, uint16_t* units, int32_t n) {
    QBUG_ENTER("message_encrypt_xor");
    (void)handle;
    if (units != NULL && n > 0 && units[0] == MESSAGE_UNIT_ENCIPHERED) {
        QBUG_fixed_retail_line(MESSAGE_SOURCE_NAME, __LINE__, "Data is already encrypted");
    } else if (units != NULL && n > 0 && units[0] == MESSAGE_UNIT_BOM) {
        for (int32_t i = 0; i < n; i++) units[i] = (uint16_t)~units[i];
    } else {
        QBUG_fixed_retail_line(MESSAGE_SOURCE_NAME, __LINE__, "Invalid unicode header");
    }
    QBUG_LEAVE("message_encrypt_xor");
}

static int32_t message_syntax_error(MESSAGE_ERROR* error, const char* text, uint16_t* position,
                                    int32_t line) {
    QBUG_ENTER("message_syntax_error");
    if (error != NULL) {
        error->error = 1;
        error->error_text = text;
        error->position = position;
        error->line = line;
    }
    QBUG_LEAVE("message_syntax_error");
    return -2;
}

int32_t message_count(int32_t handle, int32_t n, MESSAGE_ERROR* error) {
    QBUG_ENTER("message_count");
    if (error != NULL) {
        error->error = 0;
        error->error_text = NULL;
        error->position = NULL;
        error->line = -1;
    }
    MESSAGE_FILE* slot = message_get_slot(handle);
    if (slot != NULL && n > slot->units) n = slot->units;  // never past the loaded text
    if (n < 2 || slot == NULL || slot->data == NULL) {
        QBUG_LEAVE("message_count - no text");
        return -1;
    }
    const uint16_t* data = slot->data;
    int32_t line = 1;
    bool inside = false;
    int32_t opened = 0;
    for (int32_t i = 1; i < n; i++) {
        uint16_t c = data[i];
        if (c == MESSAGE_UNIT_TAB || c == MESSAGE_UNIT_CR || c == MESSAGE_UNIT_SPACE) continue;
        if (c == MESSAGE_UNIT_LF) {
            line++;
        } else if (c == MESSAGE_UNIT_OPEN) {
            opened++;
            if (inside) {
                int32_t result =
                    message_syntax_error(error, MESSAGE_ERROR_NESTED_OPEN, &slot->data[i], line);
                QBUG_LEAVE("message_count - syntax error");
                return result;
            }
            inside = true;
        } else if (c == MESSAGE_UNIT_CLOSE) {
            if (!inside) {
                int32_t result =
                    message_syntax_error(error, MESSAGE_ERROR_STRAY_CLOSE, &slot->data[i], line);
                QBUG_LEAVE("message_count - syntax error");
                return result;
            }
            inside = false;
        } else if (!inside) {
            if (i + 1 < n && data[i + 1] == MESSAGE_UNIT_OPEN) {
                int32_t result = message_syntax_error(error, MESSAGE_ERROR_NEWLINE_BEFORE,
                                                      &slot->data[i + 1], line);
                QBUG_LEAVE("message_count - syntax error");
                return result;
            }
            if (data[i - 1] == MESSAGE_UNIT_CLOSE) {
                int32_t result =
                    message_syntax_error(error, MESSAGE_ERROR_NEWLINE_AFTER, &slot->data[i], line);
                QBUG_LEAVE("message_count - syntax error");
                return result;
            }
        }
    }
    QBUG_LEAVE("message_count");
    return opened - 1;
}

void message_convert_marked_ids(uint16_t* id) {
    QBUG_ENTER("message_convert_marked_ids");
    if (id == NULL) {
        QBUG_LEAVE("message_convert_marked_ids - null");
        return;
    }
    // The 8-bit string is written over the start of the units it comes from.
    // Byte i lands below unit i, which has been read by then, so no copy is
    // needed (and none can fail).
    char* bytes = (char*)id;
    int32_t length = unicodelen(id);
    if (length == 0) {  // too long to be an id
        bytes[0] = 0;
        QBUG_LEAVE("message_convert_marked_ids - too long");
        return;
    }
    for (int32_t i = 0; i < length - 1; i++) bytes[i] = (char)(id[i] & 0xFF);
    bytes[length - 1] = 0;
    QBUG_LEAVE("message_convert_marked_ids");
}

// The first unit at or after `from` that is `wanted`, stopping early at a
// "[" (unless "[" is wanted) and at `end`. Returns that position or `end`.
static int32_t message_find(const uint16_t* data, int32_t from, int32_t end, uint16_t wanted) {
    QBUG_ENTER("message_find");
    int32_t i = from;
    while (i < end && data[i] != wanted && data[i] != MESSAGE_UNIT_OPEN) i++;
    QBUG_LEAVE("message_find");
    return i;
}

bool mark_messages(int32_t handle, int32_t m) {
    QBUG_ENTER("mark_messages");
    MESSAGE_FILE* slot = message_get_slot(handle);
    if (slot == NULL || slot->data == NULL || slot->data[0] == 0) {
        QBUG_LEAVE("mark_messages - no text");
        return true;
    }
    // Every search stops at the end of the loaded text, and the ones inside a
    // message also stop at the next "[": a header with no text line after it
    // (the next header follows at once, or on the same line) gets an empty
    // text, and its neighbour still becomes a message of its own. So message
    // k always comes from header k and the last header is never inserted.
    uint16_t* data = slot->data;
    int32_t end = slot->units;
    int32_t at = 0;
    for (int32_t done = 0; done < m; done++) {
        int32_t open = message_find(data, at, end, MESSAGE_UNIT_OPEN);
        if (open >= end) break;
        int32_t close = message_find(data, open + 1, end, MESSAGE_UNIT_CLOSE);
        if (close >= end || data[close] != MESSAGE_UNIT_CLOSE) break;  // not a closed header
        data[close] = 0;
        message_convert_marked_ids(&data[open + 1]);
        // The converted id ends below data[close], which stays a 0 unit:
        // it serves as the empty text.
        uint16_t* text = &data[close];
        int32_t line_end = message_find(data, close + 1, end, MESSAGE_UNIT_LF);
        int32_t next = line_end;
        if (line_end < end && data[line_end] == MESSAGE_UNIT_LF) {
            next = message_find(data, line_end + 1, end, MESSAGE_UNIT_OPEN);
            if (next > line_end + 1) {
                text = &data[line_end + 1];
                if (next < end) data[next - 1] = 0;  // the line feed that ends the text
            }
        }
        int result = message_insert(handle, (const char*)&data[open + 1], text);
        if (result == MESSAGE_NO_MEMORY) {
            QBUG_LEAVE("mark_messages - out of memory");
            return false;
        }
        at = next;  // a duplicate is skipped but counts
    }
    QBUG_LEAVE("mark_messages");
    return true;
}

int32_t MESSAGE_allocate_message_file(const char* file_name, uint8_t mode, MESSAGE_ERROR* error) {
    QBUG_ENTER("MESSAGE_allocate_message_file");
    int32_t handle = 0;
    while (handle < message_slot_count && message_slots[handle].in_use != 0) handle++;
    if (handle >= message_slot_count) {
        QBUG_LEAVE("MESSAGE_allocate_message_file - no free slot");
        return -1;
    }
    MESSAGE_FILE* slot = &message_slots[handle];
    const char* name = file_name != NULL ? file_name : "(null)";
    int32_t n = message_read_message_file(handle, file_name);
    if (n < 0) {
        QBUG_TRACE("FAILED to read file: %s", name);
        n = 0;
    }
    message_decrypt_xor(handle, slot->data, n);
    int32_t m = message_count(handle, n, error);
    if (m == -2) {
        if (error != NULL) {
            error->file_name = file_name != NULL ? message_copy_string(file_name) : NULL;
            error->position = NULL;  // it pointed into the text released here
        }
        message_release_slot(slot);
        QBUG_LEAVE("MESSAGE_allocate_message_file - syntax error");
        return -2;
    }
    slot->mode = mode;
    slot->in_use = 1;
    slot->entries = NULL;
    slot->count = 0;
    slot->capacity = 0;
    if (m >= 1) {
        MESSAGE_ENTRY* entries = (size_t)m <= SIZE_MAX / sizeof(MESSAGE_ENTRY)
                                     ? (MESSAGE_ENTRY*)malloc(sizeof(MESSAGE_ENTRY) * (size_t)m)
                                     : NULL;
        if (entries == NULL) {
            QBUG_TRACE("MESSAGE_allocate_message_file: no memory for %d messages of %s", (int)m,
                       name);
            message_release_slot(slot);
            QBUG_LEAVE("MESSAGE_allocate_message_file - malloc failed");
            return -1;
        }
        memset(entries, 0, sizeof(MESSAGE_ENTRY) * (size_t)m);
        slot->entries = entries;
        slot->capacity = m;
        message_index_resize(slot, m);
        if (!mark_messages(handle, m)) {
            QBUG_TRACE("MESSAGE_allocate_message_file: out of memory splitting %s", name);
            message_release_slot(slot);
            QBUG_LEAVE("MESSAGE_allocate_message_file - malloc failed");
            return -1;
        }
    }
    QBUG_LEAVE("MESSAGE_allocate_message_file");
    return handle;
}

void MESSAGE_deallocate_message_file(int32_t handle) {
    QBUG_ENTER("MESSAGE_deallocate_message_file");
    if (message_valid_handle(handle)) message_release_slot(&message_slots[handle]);
    QBUG_LEAVE("MESSAGE_deallocate_message_file");
}

// ---------------------------------------------------------------------------
// Lookups and edits.

const uint16_t* MESSAGE_get_message(int32_t handle, const char* id) {
    QBUG_ENTER("MESSAGE_get_message");
    if (!message_valid_handle(handle)) {
        QBUG_LEAVE("MESSAGE_get_message - invalid handle");
        return NULL;
    }
    MESSAGE_ENTRY* entry = message_get_list_object(handle, id);
    QBUG_LEAVE("MESSAGE_get_message");
    return entry != NULL ? entry->text : NULL;
}

const char* MESSAGE_get_first_message_id(int32_t handle) {
    QBUG_ENTER("MESSAGE_get_first_message_id");
    if (!message_valid_handle(handle) || message_slots[handle].count < 1) {
        QBUG_LEAVE("MESSAGE_get_first_message_id - none");
        return NULL;
    }
    QBUG_LEAVE("MESSAGE_get_first_message_id");
    return message_slots[handle].entries[0].id;
}

const char* MESSAGE_get_next_message_id(int32_t handle, const char* id) {
    QBUG_ENTER("MESSAGE_get_next_message_id");
    if (!message_valid_handle(handle)) {
        QBUG_LEAVE("MESSAGE_get_next_message_id - invalid handle");
        return NULL;
    }
    MESSAGE_FILE* slot = &message_slots[handle];
    MESSAGE_ENTRY* entry = message_get_list_object(handle, id);
    if (entry == NULL || (entry - slot->entries) + 1 >= slot->count) {
        QBUG_LEAVE("MESSAGE_get_next_message_id - none");
        return NULL;
    }
    QBUG_LEAVE("MESSAGE_get_next_message_id");
    return entry[1].id;
}

int32_t MESSAGE_count_messages(int32_t handle) {
    QBUG_ENTER("MESSAGE_count_messages");
    if (!message_valid_handle(handle)) {
        QBUG_LEAVE("MESSAGE_count_messages - invalid handle");
        return -1;
    }
    QBUG_LEAVE("MESSAGE_count_messages");
    return message_slots[handle].count;
}

void MESSAGE_set_message(int32_t handle, const char* id, const uint16_t* text) {
    QBUG_ENTER("MESSAGE_set_message");
    if (!message_valid_handle(handle) || message_slots[handle].mode != MESSAGE_MODE_EDITABLE) {
        QBUG_LEAVE("MESSAGE_set_message - refused");
        return;
    }
    const char* uncarried = message_uncarried_part(id, text);
    if (uncarried != NULL) {
        QBUG_TRACE("MESSAGE_set_message: a message file cannot hold the %s of '%.64s'", uncarried,
                   id != NULL ? id : "");
        QBUG_LEAVE("MESSAGE_set_message - refused");
        return;
    }
    MESSAGE_ENTRY* entry = message_get_list_object(handle, id);
    int32_t length = unicodelen(text);
    if (entry == NULL || length == 0) {
        QBUG_LEAVE("MESSAGE_set_message - no entry or no text");
        return;
    }
    uint16_t* copy = (uint16_t*)malloc(sizeof(uint16_t) * (size_t)length);
    if (copy == NULL) {
        QBUG_TRACE("MESSAGE_set_message: no memory for the text of '%s'", id);
        QBUG_LEAVE("MESSAGE_set_message - malloc failed");
        return;
    }
    unicodecpy(copy, text);
    free(entry->text);
    entry->text = copy;
    QBUG_LEAVE("MESSAGE_set_message");
}

bool MESSAGE_remove_message(int32_t handle, const char* id) {
    QBUG_ENTER("MESSAGE_remove_message");
    if (!message_valid_handle(handle)) {
        QBUG_LEAVE("MESSAGE_remove_message - invalid handle");
        return false;
    }
    MESSAGE_FILE* slot = &message_slots[handle];
    if (slot->mode != MESSAGE_MODE_EDITABLE) {
        QBUG_LEAVE("MESSAGE_remove_messages");
        return false;
    }
    MESSAGE_ENTRY* entry = slot->count > 0 ? message_get_list_object(handle, id) : NULL;
    if (entry == NULL) {
        QBUG_LEAVE("MESSAGE_remove_message - not found");
        return false;
    }
    message_deallocate_message_str(entry);
    int32_t at = (int32_t)(entry - slot->entries);
    int32_t following = slot->count - at - 1;
    if (following > 0) memmove(entry, entry + 1, sizeof(MESSAGE_ENTRY) * (size_t)following);
    // The place left at the end holds no pointers, not even duplicates.
    memset(&slot->entries[slot->count - 1], 0, sizeof(MESSAGE_ENTRY));
    slot->count--;
    message_index_refill(slot);
    QBUG_LEAVE("MESSAGE_remove_message");
    return true;
}

// ---------------------------------------------------------------------------
// Writing.

uint8_t MESSAGE_set_output_encrypt_state(uint8_t state) {
    QBUG_ENTER("MESSAGE_set_output_encrypt_state");
    uint8_t previous = message_output_encrypt;
    message_output_encrypt = state;
    QBUG_LEAVE("MESSAGE_set_output_encrypt_state");
    return previous;
}

// The units of an entry's text that the writer copies: its characters, or
// none for a text that measures 0 (null or overlong).
static int32_t message_written_text_units(const uint16_t* text) {
    QBUG_ENTER("message_written_text_units");
    int32_t length = unicodelen(text);
    QBUG_LEAVE("message_written_text_units");
    return length > 0 ? length - 1 : 0;
}

void MESSAGE_write_message_file(int32_t handle, const char* file_name) {
    QBUG_ENTER("MESSAGE_write_message_file");
    if (!message_valid_handle(handle) || message_slots[handle].mode != MESSAGE_MODE_EDITABLE ||
        file_name == NULL) {
        QBUG_LEAVE("MESSAGE_write_message_file - refused");
        return;
    }
    MESSAGE_FILE* slot = &message_slots[handle];
    // Size: the mark, then per entry "[", id, "]", LF, text, LF; then the end
    // marker. The text is built before the file is opened, so a file that
    // cannot be written for want of memory is left as it was.
    uint64_t total = 1 + MESSAGE_END_MARKER_UNITS;
    for (int32_t i = 0; i < slot->count; i++) {
        const MESSAGE_ENTRY* entry = &slot->entries[i];
        total += (entry->id != NULL ? strlen(entry->id) : 0) +
                 (uint64_t)message_written_text_units(entry->text) + 4;
    }
    uint16_t* units = total <= (uint64_t)(INT32_MAX / 2)
                          ? (uint16_t*)malloc(sizeof(uint16_t) * (size_t)total)
                          : NULL;
    if (units == NULL) {
        QBUG_TRACE("MESSAGE_write_message_file: no memory for %s", file_name);
        QBUG_LEAVE("MESSAGE_write_message_file - malloc failed");
        return;
    }
    size_t at = 0;
    units[at++] = MESSAGE_UNIT_BOM;
    for (int32_t i = 0; i < slot->count; i++) {
        const MESSAGE_ENTRY* entry = &slot->entries[i];
        units[at++] = MESSAGE_UNIT_OPEN;
        for (const char* p = entry->id; p != NULL && *p != 0; p++) units[at++] = MESSAGE_WIDEN(*p);
        units[at++] = MESSAGE_UNIT_CLOSE;
        units[at++] = MESSAGE_UNIT_LF;
        int32_t length = message_written_text_units(entry->text);
        if (length > 0) memcpy(&units[at], entry->text, sizeof(uint16_t) * (size_t)length);
        at += (size_t)length;
        units[at++] = MESSAGE_UNIT_LF;
    }
    for (int32_t i = 0; i < MESSAGE_END_MARKER_UNITS; i++)
        units[at++] = MESSAGE_WIDEN(message_end_marker[i]);
    QBUG_ASSERT(at == (size_t)total);
    if (message_output_encrypt == 1) message_encrypt_xor(handle, units, (int32_t)total);
    FILE* stream = qfile_fopen(file_name, "wb", 0, QBUG_FILE, __LINE__);
    if (stream == NULL) {
        free(units);
        QBUG_LEAVE("MESSAGE_write_message_file - cannot open");
        return;
    }
    size_t written = QFILE_fwrite(units, sizeof(uint16_t), (size_t)total, stream);
    if (written != (size_t)total) {
        QBUG_TRACE("MESSAGE_write_message_file: wrote %u of %u units to %s", (unsigned)written,
                   (unsigned)total, file_name);
    }
    qfile_fclose(stream, QBUG_FILE, __LINE__);
    free(units);
    QBUG_LEAVE("MESSAGE_write_message_file");
}
