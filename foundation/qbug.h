// qbug: the foundation library's diagnostics.
//
// One process-wide debug state with four facilities, each switched by a bit of
// the flags word: assertions, trace lines, watches and call-stack tracking.
// Trace and assertion lines carry the prefix "[%8s,%5d] " (short source file
// name, line) and go to the sink chosen by the output mode. Beside that there
// is the always-on retail log and the fixed-path retail line.
//
// Calling convention of the library: every function outside this module
// brackets its body with QBUG_ENTER / QBUG_LEAVE, reports through QBUG_TRACE
// and checks invariants with QBUG_ASSERT. Each macro tests one byte of the
// flags word first, so a disabled facility costs one test per call.
#ifndef QBUG_H
#define QBUG_H

#include <stdint.h>

#define QBUG_FLAG_ASSERT    1u
#define QBUG_FLAG_TRACE     2u
#define QBUG_FLAG_WATCH     4u
#define QBUG_FLAG_CALLSTACK 8u

#define QBUG_OUT_NONE         0
#define QBUG_OUT_DEVELOP_FILE 1
#define QBUG_OUT_TRACE_BUFFER 2
#define QBUG_OUT_DEBUGGER     3
#define QBUG_OUT_DISCARD      4
#define QBUG_OUT_STDERR       5

#define QBUG_STRING_SIZE 1024  // a watch string: at most 1023 characters

#define QBUG_WATCH_STRING 0
#define QBUG_WATCH_INT    1
#define QBUG_WATCH_FREE   2

// The source file's own name (no directory): what trace prefixes and
// allocator records want, whatever path the build compiled it from.
#define QBUG_FILE __FILE_NAME__

// The facility bits. Only the low byte is ever tested.
extern uint32_t qbug_flags;
#define QBUG_ON(bit) (((uint8_t)qbug_flags) & (uint8_t)(bit))

#define QBUG_ENTER(function)                                                           \
    do {                                                                               \
        if (QBUG_ON(QBUG_FLAG_CALLSTACK)) QBUG_enter((function), QBUG_FILE, __LINE__); \
    } while (0)
#define QBUG_LEAVE(function)                                                           \
    do {                                                                               \
        if (QBUG_ON(QBUG_FLAG_CALLSTACK)) QBUG_leave((function), QBUG_FILE, __LINE__); \
    } while (0)
#define QBUG_TRACE(...)                                                                       \
    do {                                                                                      \
        if (QBUG_ON(QBUG_FLAG_TRACE)) QBUG_trace(QBUG_FILE, (uint16_t)__LINE__, __VA_ARGS__); \
    } while (0)
// An assertion is a report: the caller goes on to its own checks.
#define QBUG_ASSERT(condition)                                                                 \
    do {                                                                                       \
        if (QBUG_ON(QBUG_FLAG_ASSERT))                                                         \
            QBUG_assert((condition) ? true : false, #condition, QBUG_FILE, (uint16_t)__LINE__, \
                        "");                                                                   \
    } while (0)

// Life cycle. The watch table gets watch_count + 1 entries, the call stack
// callstack_size entries, the trace ring 2^min(trace_size_log2, 20) bytes.
// False (and uninitialised) when a table already exists or cannot be had.
bool QBUG_initialise(int32_t watch_count, int32_t callstack_size, int32_t trace_size_log2,
                     uint32_t flags, uint8_t output_mode);
// Dumps what the flags ask for, frees the tables, clears flags, mode and the
// initialised flag. File names and the exit function survive.
void QBUG_deinitialise(void);
bool QBUG_is_initialised(void);

// Take the name (cut to 1023 characters), truncate the file and write its
// header line. A file that cannot be opened still leaves the name taken.
void QBUG_set_develop_file(const char* name);
void QBUG_set_retail_file(const char* name);
void QBUG_set_output_mode(uint8_t mode);
void QBUG_set_exit_function(void (*function)(int));

// Flag switches: each sets or clears one bit and returns the new word.
uint32_t QBUG_enable_asserts(void);
uint32_t QBUG_disable_asserts(void);
uint32_t QBUG_enable_trace(void);
uint32_t QBUG_disable_trace(void);
uint32_t QBUG_enable_watches(void);
uint32_t QBUG_disable_watches(void);
uint32_t QBUG_enable_callstack(void);
uint32_t QBUG_disable_callstack(void);

// Reporting. Lines longer than their limits are cut, never overrun.
// A trace line is the prefix and the message, each kept to 1023 characters.
void QBUG_trace(const char* file, uint16_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Nothing when condition holds. Otherwise one line: the prefix,
// "(ASSERT FAILURE: condition_text) " and the message (kept to 1023
// characters); a line longer than 2047 characters is cut at its end. Then,
// with an exit function installed, deinitialises and exits with 1.
void QBUG_assert(bool condition, const char* condition_text, const char* file, uint16_t line,
                 const char* format, ...) __attribute__((format(printf, 5, 6)));
// Unconditional: one prefixed line in the retail file.
void QBUG_retail_trace(const char* file, uint16_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Unconditional: formatted text in the retail file, no prefix, no newline.
void QBUG_retail_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The fixed-path retail line: "%s %d: %s\n" (short file name, line, text)
// appended to "c:\retail.dbg".
void QBUG_fixed_retail_line(const char* file, int32_t line, const char* text);
// Calls the installed exit function with code; does nothing without one.
void QBUG_exit(int code);

// Dumps into the develop file.
void QBUG_dump_watches(void);
void QBUG_dump_callstack(void);
void QBUG_dump_trace_buffer(void);

// Call-stack tracking.
void QBUG_enter(const char* function, const char* file, int32_t line);
void QBUG_leave(const char* function, const char* file, int32_t line);

// Watches.
bool QBUG_add_watch(int32_t index, const char* description, uint8_t type);
void QBUG_set_watch_string(int32_t index, const char* text);
void QBUG_set_watch_int(int32_t index, int32_t value);

// The short name of a source file, as trace prefixes and allocator records
// show it: the part of path (NULL: "") after its last separator (any
// character of separators), up to its last '.', at most
// QBUG_SHORT_NAME_LENGTH characters; output takes one more. With cut_first
// the name is cut to that length before its last '.' is looked for, so
// only a '.' within it counts.
#define QBUG_SHORT_NAME_LENGTH 8
void QBUG_short_name(const char* path, const char* separators, bool cut_first, char* output);

// Private operations, declared for the module's own tests.
// The short name of a prefix: after the last backslash, cut first.
void qbug_short_file_name(const char* path, char* output);  // output: at least 9 chars
void qbug_develop_message(const char* text);
void qbug_output_develop_file(char* line);
void qbug_output_trace_buffer(char* line);
void qbug_output_debugger(char* line);
void qbug_output_discard(char* line);
void qbug_output_stderr(char* line);

// Process functions (the child set-up program of the install flow).
#ifdef _WIN32
#include <windows.h>
struct PROCESS_RECORD {
    PROCESS_INFORMATION information;  // process handle first
    STARTUPINFOA startup;
};
// CreateProcessA with the given command line, inherited handles and the
// parent's environment and directory. True when the process was created.
bool PROCESS_start(char* command_line, uint32_t reserved, PROCESS_RECORD* record);
// True exactly while the process's exit code is STILL_ACTIVE; false also
// when the code cannot be read.
bool PROCESS_is_running(PROCESS_RECORD* record);
#endif

#endif
