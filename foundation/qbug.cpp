// qbug: the diagnostics state, its sinks, dumps, call-stack tracking,
// watches and the two process functions.
//
// This module is the bottom of the library and does not trace itself.
// Every file write opens, appends and closes, so each line reaches its file
// even when the program ends abruptly.
#include "qbug.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#define QBUG_NAME_SIZE      1024  // develop and retail file names
#define QBUG_PART_SIZE      1024  // a prefix, or a formatted message
#define QBUG_LINE_SIZE      2048  // prefix and message joined
#define QBUG_TRACE_LOG2_MAX 20

struct QBUG_WATCH_ENTRY {
    const char* description;  // the caller's string, not copied
    uint8_t type;             // QBUG_WATCH_STRING, _INT or _FREE
    char string_value[QBUG_STRING_SIZE];
    int32_t int_value;
};

struct QBUG_CALLSTACK_ENTRY {
    const char* function;  // the caller's literal, not copied
    const char* file;
    int32_t line;
};

struct QBUG_STATE {
    bool initialised;
    uint8_t output_mode;
    char develop_file[QBUG_NAME_SIZE];
    char retail_file[QBUG_NAME_SIZE];
    void (*exit_function)(int);
    QBUG_CALLSTACK_ENTRY* callstack_data;
    int32_t callstack_size;
    int32_t current_callstack_depth;  // index of the top entry; -1 when empty
    uint8_t* trace_buffer;
    uint32_t trace_size;      // a power of two
    uint32_t trace_position;  // next byte to write
    QBUG_WATCH_ENTRY* watch_data;
    int32_t watch_size;
};

uint32_t qbug_flags = 0;

static QBUG_STATE qbug = {false, 0, "develop.dbg", "retail.dbg", NULL, NULL, 0, -1, NULL, 0, 0,
                          NULL,  0};

static const char QBUG_NO_TRACE_BUFFER[] =
    "You must call QBUG_initialise with a size to initialise the trace buffer, or "
    "QBUG_deinitialise "
    "was called which freed the buffer.\n";
static const char QBUG_NO_CALLSTACK[] =
    "You must call QBUG_initialise with a size to initialise the callstack_data \nbuffer, or "
    "QBUG_deinitialise was called which freed the buffer.\n";
static const char QBUG_NO_WATCHES[] =
    "You must call QBUG_initialise with a size to initialise the watch_data \nbuffer, or "
    "QBUG_deinitialise was called which freed the buffer.\n";

// ---- Life cycle and settings -----------------------------------------------

bool QBUG_initialise(int32_t watch_count, int32_t callstack_size, int32_t trace_size_log2,
                     uint32_t flags, uint8_t output_mode) {
    // A table that exists already is kept, with the size it was made with:
    // the sizes change only together with a new table.
    if (watch_count < 0 || (size_t)watch_count >= SIZE_MAX / sizeof(QBUG_WATCH_ENTRY) ||
        qbug.watch_data != NULL) {
        qbug.initialised = false;
        return false;
    }
    qbug.watch_data =
        (QBUG_WATCH_ENTRY*)malloc(sizeof(QBUG_WATCH_ENTRY) * (size_t)(watch_count + 1));
    if (qbug.watch_data == NULL) {
        qbug.initialised = false;
        return false;
    }
    qbug.watch_size = watch_count + 1;
    for (int32_t i = 0; i < qbug.watch_size; i++) {
        qbug.watch_data[i].description = NULL;
        qbug.watch_data[i].type = QBUG_WATCH_FREE;
        qbug.watch_data[i].string_value[0] = '\0';
        qbug.watch_data[i].int_value = 0;
    }

    if (callstack_size < 0 || qbug.callstack_data != NULL) {
        qbug.initialised = false;
        return false;
    }
    qbug.current_callstack_depth = -1;
    // One entry more than asked for, so that a size of 0 still gets a table.
    qbug.callstack_data =
        (QBUG_CALLSTACK_ENTRY*)calloc((size_t)callstack_size + 1, sizeof(QBUG_CALLSTACK_ENTRY));
    if (qbug.callstack_data == NULL) {
        qbug.initialised = false;
        return false;
    }
    qbug.callstack_size = callstack_size;

    if (trace_size_log2 < 0) trace_size_log2 = 0;
    if (trace_size_log2 > QBUG_TRACE_LOG2_MAX) trace_size_log2 = QBUG_TRACE_LOG2_MAX;
    if (qbug.trace_buffer != NULL) {
        qbug.initialised = false;
        return false;
    }
    uint32_t trace_size = 1u << trace_size_log2;
    qbug.trace_buffer = (uint8_t*)malloc(trace_size);
    if (qbug.trace_buffer == NULL) {
        qbug.initialised = false;
        return false;
    }
    qbug.trace_size = trace_size;
    qbug.trace_position = 0;
    memset(qbug.trace_buffer, 0xFF, trace_size);

    qbug_flags = flags;
    qbug.output_mode = output_mode;
    qbug.initialised = true;
    return true;
}

void QBUG_deinitialise(void) {
    if (qbug.watch_data != NULL) {
        if (QBUG_ON(QBUG_FLAG_WATCH)) QBUG_dump_watches();
        free(qbug.watch_data);
    }
    if (qbug.callstack_data != NULL) {
        if (QBUG_ON(QBUG_FLAG_CALLSTACK)) QBUG_dump_callstack();
        free(qbug.callstack_data);
    }
    if (qbug.trace_buffer != NULL) {
        if (QBUG_ON(QBUG_FLAG_TRACE)) QBUG_dump_trace_buffer();
        free(qbug.trace_buffer);
    }
    qbug.watch_data = NULL;
    qbug.callstack_data = NULL;
    qbug.trace_buffer = NULL;
    qbug_flags = 0;
    qbug.output_mode = QBUG_OUT_NONE;
    qbug.initialised = false;
}

bool QBUG_is_initialised(void) { return qbug.initialised; }

// Takes name and starts the file afresh with header. A name that does not
// fit is refused whole: a cut name would truncate some other file.
static void qbug_set_file(char* field, const char* name, const char* header) {
    if (name == NULL || strlen(name) >= QBUG_NAME_SIZE) return;
    strcpy(field, name);
    FILE* file = fopen(field, "w");
    if (file == NULL) return;
    fputs(header, file);
    fclose(file);
}

void QBUG_set_develop_file(const char* name) {
    qbug_set_file(qbug.develop_file, name, "Development Debug\n\n");
}

void QBUG_set_retail_file(const char* name) {
    qbug_set_file(qbug.retail_file, name, "Release Debug\n\n");
}

void QBUG_set_output_mode(uint8_t mode) { qbug.output_mode = mode; }

void QBUG_set_exit_function(void (*function)(int)) { qbug.exit_function = function; }

uint32_t QBUG_enable_asserts(void) { return qbug_flags |= QBUG_FLAG_ASSERT; }
uint32_t QBUG_disable_asserts(void) { return qbug_flags &= ~QBUG_FLAG_ASSERT; }
uint32_t QBUG_enable_trace(void) { return qbug_flags |= QBUG_FLAG_TRACE; }
uint32_t QBUG_disable_trace(void) { return qbug_flags &= ~QBUG_FLAG_TRACE; }
uint32_t QBUG_enable_watches(void) { return qbug_flags |= QBUG_FLAG_WATCH; }
uint32_t QBUG_disable_watches(void) { return qbug_flags &= ~QBUG_FLAG_WATCH; }
uint32_t QBUG_enable_callstack(void) { return qbug_flags |= QBUG_FLAG_CALLSTACK; }
uint32_t QBUG_disable_callstack(void) { return qbug_flags &= ~QBUG_FLAG_CALLSTACK; }

// ---- Composing and routing lines --------------------------------------------

// One pass without library calls: the allocator runs this on every
// allocation.
void QBUG_short_name(const char* path, const char* separators, bool cut_first, char* output) {
    const char* name = path != NULL ? path : "";
    const char* dot = NULL;
    const char* scan = name;
    for (; *scan != '\0'; scan++) {
        bool separator = false;
        for (const char* s = separators; *s != '\0'; s++) separator = separator || *s == *scan;
        if (separator) {
            name = scan + 1;
            dot = NULL;
        } else if (*scan == '.' && (!cut_first || scan - name < QBUG_SHORT_NAME_LENGTH)) {
            dot = scan;
        }
    }
    const char* end = dot != NULL ? dot : scan;
    int length = 0;
    while (length < QBUG_SHORT_NAME_LENGTH && name + length < end) {
        output[length] = name[length];
        length++;
    }
    output[length] = '\0';
}

void qbug_short_file_name(const char* path, char* output) {
    QBUG_short_name(path, "\\", true, output);
}

// Appends text to the file called name; a file that cannot be opened makes
// this a no-op.
static void qbug_append(const char* name, const char* text) {
    FILE* file = fopen(name, "a");
    if (file == NULL) return;
    fputs(text, file);
    fclose(file);
}

void qbug_develop_message(const char* text) { qbug_append(qbug.develop_file, text); }

// Appends line and a newline to the file called name, like qbug_append.
static void qbug_append_line(const char* name, const char* line) {
    FILE* file = fopen(name, "a");
    if (file == NULL) return;
    fputs(line, file);
    fputs("\n", file);
    fclose(file);
}

void qbug_output_develop_file(char* line) { qbug_append_line(qbug.develop_file, line); }

// The sink of retail trace lines, whatever the output mode.
static void qbug_output_retail_file(char* line) { qbug_append_line(qbug.retail_file, line); }

// line must have room for one more character: every composed line does.
void qbug_output_trace_buffer(char* line) {
    if (!qbug.initialised || qbug.trace_buffer == NULL) {
        qbug_develop_message(QBUG_NO_TRACE_BUFFER);
        return;
    }
    strcat(line, "\n");
    uint32_t mask = qbug.trace_size - 1;
    for (const char* c = line; *c != '\0'; c++) {
        qbug.trace_buffer[qbug.trace_position] = (uint8_t)*c;
        qbug.trace_position = (qbug.trace_position + 1) & mask;
    }
}

void qbug_output_debugger(char* line) {
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
}

void qbug_output_discard(char* line) { (void)line; }

void qbug_output_stderr(char* line) {
    fprintf(stderr, "%s", line);
    fputs("\n", stderr);
    fflush(stderr);
}

// Routes a composed line (with room for its newline) by the output mode.
static void qbug_route(char* line) {
    switch (qbug.output_mode) {
    case QBUG_OUT_DEVELOP_FILE: qbug_output_develop_file(line); break;
    case QBUG_OUT_TRACE_BUFFER: qbug_output_trace_buffer(line); break;
    case QBUG_OUT_DEBUGGER: qbug_output_debugger(line); break;
    case QBUG_OUT_DISCARD: qbug_output_discard(line); break;
    case QBUG_OUT_STDERR: qbug_output_stderr(line); break;
    default: break;
    }
}

// Composes the prefixed line of file and line and the caller's message,
// each kept to 1023 characters, and hands it to sink.
static void qbug_trace_to(void (*sink)(char* line), const char* file, uint16_t line,
                          const char* format, va_list arguments) {
    char short_name[QBUG_SHORT_NAME_LENGTH + 1];
    char prefix[QBUG_PART_SIZE];
    char message[QBUG_PART_SIZE];
    // At most 1023 + 1023 characters: the newline a sink adds still fits.
    char composed[QBUG_LINE_SIZE];
    qbug_short_file_name(file, short_name);
    snprintf(prefix, sizeof prefix, "[%8s,%5d] ", short_name, (int)line);
    vsnprintf(message, sizeof message, format, arguments);
    snprintf(composed, sizeof composed, "%s%s", prefix, message);
    sink(composed);
}

void QBUG_trace(const char* file, uint16_t line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    qbug_trace_to(qbug_route, file, line, format, arguments);
    va_end(arguments);
}

void QBUG_assert(bool condition, const char* condition_text, const char* file, uint16_t line,
                 const char* format, ...) {
    if (condition) return;
    char short_name[QBUG_SHORT_NAME_LENGTH + 1];
    char message[QBUG_PART_SIZE];
    char composed[QBUG_LINE_SIZE + 1];  // + the newline the trace-buffer sink adds
    qbug_short_file_name(file, short_name);
    // Prefix and condition take the whole line; the message follows them in
    // what room is left. A line too long is cut at its end only, so what a
    // sink receives is always the beginning of the full line.
    int length = snprintf(composed, QBUG_LINE_SIZE, "[%8s,%5d] (ASSERT FAILURE: %s) ", short_name,
                          (int)line, condition_text != NULL ? condition_text : "");
    if (length < 0) {
        composed[0] = '\0';
        length = 0;
    }
    if (length > QBUG_LINE_SIZE - 1) length = QBUG_LINE_SIZE - 1;
    va_list arguments;
    va_start(arguments, format);
    if (vsnprintf(message, sizeof message, format, arguments) < 0) message[0] = '\0';
    va_end(arguments);
    snprintf(composed + length, QBUG_LINE_SIZE - (size_t)length, "%s", message);
    qbug_route(composed);

    if (qbug.exit_function != NULL) {
        QBUG_deinitialise();
        QBUG_exit(1);
    }
}

void QBUG_retail_trace(const char* file, uint16_t line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    qbug_trace_to(qbug_output_retail_file, file, line, format, arguments);
    va_end(arguments);
}

void QBUG_retail_printf(const char* format, ...) {
    FILE* output = fopen(qbug.retail_file, "a");
    if (output == NULL) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(output, format, arguments);
    va_end(arguments);
    fclose(output);
}

void QBUG_fixed_retail_line(const char* file, int32_t line, const char* text) {
    FILE* output = fopen("c:\\retail.dbg", "a");
    if (output == NULL) return;
    fprintf(output, "%s %d: %s\n", file != NULL ? file : "", (int)line, text != NULL ? text : "");
    fclose(output);
}

void QBUG_exit(int code) {
    if (qbug.exit_function != NULL) qbug.exit_function(code);
}

// ---- Dumps ------------------------------------------------------------------

// The develop file, opened for appending a dump of table; NULL when it
// cannot be opened, and when there is no table (not initialised, or the
// facility has none), in which case the develop file gets missing instead.
static FILE* qbug_open_dump(const void* table, const char* missing) {
    if (!qbug.initialised || table == NULL) {
        qbug_develop_message(missing);
        return NULL;
    }
    return fopen(qbug.develop_file, "a");
}

void QBUG_dump_watches(void) {
    FILE* file = qbug_open_dump(qbug.watch_data, QBUG_NO_WATCHES);
    if (file == NULL) return;
    fputs("~~~~~~~ START OF WATCH DATA OUTPUT ~~~~~~~\n", file);
    for (int32_t i = 0; i < qbug.watch_size && qbug.watch_data[i].type != QBUG_WATCH_FREE; i++) {
        const QBUG_WATCH_ENTRY* watch = &qbug.watch_data[i];
        const char* description = watch->description != NULL ? watch->description : "";
        if (watch->type == QBUG_WATCH_STRING) {
            fprintf(file, "%s = %s\n", description, watch->string_value);
        } else if (watch->type == QBUG_WATCH_INT) {
            fprintf(file, "%s = %d\n", description, (int)watch->int_value);
        }
    }
    fputs("~~~~~~~ END OF WATCH DATA OUTPUT ~~~~~~~\n", file);
    fclose(file);
}

void QBUG_dump_callstack(void) {
    FILE* file = qbug_open_dump(qbug.callstack_data, QBUG_NO_CALLSTACK);
    if (file == NULL) return;
    int32_t top = qbug.current_callstack_depth;
    if (top > qbug.callstack_size - 1) top = qbug.callstack_size - 1;
    if (top < -1) top = -1;
    fputs("~~~~~~~~START OF CALLSTACK DUMP - most recent calls~~~~~~~\n", file);
    for (int32_t i = top; i >= 0; i--) {
        const QBUG_CALLSTACK_ENTRY* entry = &qbug.callstack_data[i];
        char text[QBUG_PART_SIZE];
        snprintf(text, sizeof text, "File: %s,  Function: %s, Line: %d\n",
                 entry->file != NULL ? entry->file : "",
                 entry->function != NULL ? entry->function : "", (int)entry->line);
        fputs(text, file);
    }
    fputs("~~~~~~~~END OF CALLSTACK DUMP - older calls~~~~~~~\n", file);
    fclose(file);
}

void QBUG_dump_trace_buffer(void) {
    const uint8_t* trace_buffer = qbug.trace_buffer;
    QBUG_ASSERT(trace_buffer != NULL);
    // The ring is dumped only while it is the output sink.
    if (qbug.initialised && trace_buffer != NULL && qbug.output_mode != QBUG_OUT_TRACE_BUFFER)
        return;
    FILE* file = qbug_open_dump(trace_buffer, QBUG_NO_TRACE_BUFFER);
    if (file == NULL) return;
    fputs("~~~~~~~~START OF TRACE BUFFER DUMP~~~~~~~\n", file);
    uint32_t mask = qbug.trace_size - 1;
    for (uint32_t step = 0; step < qbug.trace_size; step++) {
        uint8_t byte = trace_buffer[(qbug.trace_position + step) & mask];
        if (byte != 0xFF) fputc(byte, file);
    }
    fputs("~~~~~~~~END OF TRACE BUFFER DUMP~~~~~~~\n", file);
    fclose(file);
}

// ---- Call-stack tracking ----------------------------------------------------

void QBUG_enter(const char* function, const char* file, int32_t line) {
    if (!qbug.initialised || qbug.callstack_data == NULL) {
        qbug_develop_message(QBUG_NO_CALLSTACK);
        return;
    }
    qbug.current_callstack_depth++;
    if (qbug.current_callstack_depth < qbug.callstack_size) {
        QBUG_CALLSTACK_ENTRY* entry = &qbug.callstack_data[qbug.current_callstack_depth];
        entry->function = function;
        entry->file = file;
        entry->line = line;
        return;
    }
    QBUG_TRACE(
        "Callstack full. Unmatched ENTER/LEAVE or more than %d (the initialised size of the "
        "callstack). ",
        (int)qbug.callstack_size);
    qbug.current_callstack_depth = -1;
}

void QBUG_leave(const char* function, const char* file, int32_t line) {
    (void)function;
    (void)file;
    (void)line;
    if (!qbug.initialised || qbug.callstack_data == NULL) {
        qbug_develop_message(QBUG_NO_CALLSTACK);
        return;
    }
    qbug.current_callstack_depth--;
    if (qbug.current_callstack_depth < -1) {
        QBUG_TRACE("Stack empty. Too many LEAVE's. Resetting current_callstack_depth.\n");
        qbug.current_callstack_depth = -1;
    }
}

// ---- Watches ----------------------------------------------------------------

// The index checks shared by the watch operations: the two assertions when
// assertions are on, then the range test.
static bool qbug_watch_index_valid(int32_t index) {
    int32_t watch_size = qbug.watch_size;
    QBUG_ASSERT(index >= 0);
    QBUG_ASSERT(index < watch_size);
    return index >= 0 && index < watch_size;
}

bool QBUG_add_watch(int32_t index, const char* description, uint8_t type) {
    bool index_valid = qbug_watch_index_valid(index);
    if (QBUG_ON(QBUG_FLAG_ASSERT)) {
        QBUG_assert(description != NULL && strlen(description) < QBUG_STRING_SIZE,
                    "strlen(description) < QBUG_STRING_SIZE", QBUG_FILE, (uint16_t)__LINE__, "");
    }
    if (!index_valid || description == NULL || strlen(description) >= QBUG_STRING_SIZE)
        return false;
    if (!qbug.initialised || qbug.watch_data == NULL) {
        qbug_develop_message(QBUG_NO_WATCHES);
        return false;  // nothing was added
    }
    QBUG_WATCH_ENTRY* watch = &qbug.watch_data[index];
    watch->description = description;
    watch->type = type;
    if (type == QBUG_WATCH_STRING) {
        watch->string_value[0] = '\0';
        return true;
    }
    if (type == QBUG_WATCH_INT) {
        watch->int_value = 0;
        return true;
    }
    QBUG_TRACE("Unknown value type in when adding watch\n");
    return false;
}

void QBUG_set_watch_string(int32_t index, const char* text) {
    if (!qbug_watch_index_valid(index)) return;
    if (!qbug.initialised || qbug.watch_data == NULL) {
        qbug_develop_message(QBUG_NO_WATCHES);
        return;
    }
    if (text == NULL) text = "";
    char* value = qbug.watch_data[index].string_value;
    strncpy(value, text, QBUG_STRING_SIZE);
    value[QBUG_STRING_SIZE - 1] = '\0';
}

void QBUG_set_watch_int(int32_t index, int32_t value) {
    if (!qbug_watch_index_valid(index)) return;
    if (!qbug.initialised || qbug.watch_data == NULL) {
        qbug_develop_message(QBUG_NO_WATCHES);
        return;
    }
    qbug.watch_data[index].int_value = value;
}

// ---- Process functions ------------------------------------------------------

bool PROCESS_start(char* command_line, uint32_t reserved, PROCESS_RECORD* record) {
    (void)reserved;
    memset(record, 0, sizeof *record);
    record->startup.cb = sizeof(STARTUPINFOA);
    return CreateProcessA(NULL, command_line, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS, NULL, NULL,
                          &record->startup, &record->information) != FALSE;
}

bool PROCESS_is_running(PROCESS_RECORD* record) {
    DWORD code = 0;
    if (!GetExitCodeProcess(record->information.hProcess, &code)) return false;
    return code == STILL_ACTIVE;
}
