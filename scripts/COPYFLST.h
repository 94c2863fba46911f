// COPYFLST: the install scripts. A script is a read-only table of command
// records run from the first record to the end record; each record names a
// command by its code and carries up to two string arguments, usually paths
// that begin with a path token such as "<DST>" or "<CSIDL_DESKTOP>".
#ifndef COPYFLST_H
#define COPYFLST_H

#include <stdint.h>

// Command codes. Arguments marked "expanded" go through expand_path.
#define CMD_MAKE_DIR          0   // -, directory: show it, create it (one level)
#define CMD_COPY_FILES        1   // source dir, destination dir: the files directly inside
#define CMD_COPY_TREE         2   // source dir, destination dir: files and all subdirectories
#define CMD_MAKE_DIR_QUIET    3   // directory, -: create it, nothing shown
#define CMD_FILE_LINK         4   // link file, target: a shell link
#define CMD_WEB_LINK          5   // shortcut file, web address: an internet shortcut
#define CMD_WRITE_PATH_FILE   6   // file, text: the text and a backslash
#define CMD_REMOVE_TREE       7   // -, directory: ask, then delete it with everything inside
#define CMD_DELETE_FILES_TREE 8   // directory, pattern: matching files, all levels
#define CMD_IF_FILE_EXISTS    9   // file, -: skip the next record when it cannot be read
#define CMD_COPY_FILE         10  // source file, destination file or directory
#define CMD_FILE_TYPE         11  // program, "ext:typekey:description" (not expanded)
#define CMD_DELETE_FILES      12  // directory, pattern: matching files, this level only
#define CMD_END               13  // ends a script

// Handler results.
#define SCRIPT_GO_ON     0
#define SCRIPT_STOP      1
#define SCRIPT_SKIP_NEXT 2

// One command record: 10 bytes, as the built-in tables are laid out
// (little-endian, 32-bit string references, no padding).
#pragma pack(push, 1)
struct SCRIPT_RECORD {
    uint16_t code;
    const char* argument1;  // NULL when absent
    const char* argument2;  // NULL when absent
};
#pragma pack(pop)
static_assert(sizeof(SCRIPT_RECORD) == 10, "a script record is 10 bytes");

// Expanded paths are buffers of this size; a path that does not fit is refused.
#define SCRIPT_PATH_SIZE 512

// The built-in scripts. Only the remove script is run by the installer.
extern const SCRIPT_RECORD remove_script[];
extern const SCRIPT_RECORD install_script[];  // 41 records
extern const SCRIPT_RECORD empty_script_one[];
extern const SCRIPT_RECORD empty_script_two[];

// The number of records before the first end record (0 for an empty script).
int32_t count_script_records(const SCRIPT_RECORD* script);

// Runs script: "<SRC>", "<DST>" and "<STARTMENU>" stand for source,
// destination and start_menu (the caller's strings, kept alive for the run;
// source may be NULL when the script uses no "<SRC>"). reserved is not read.
// Every handled record advances the progress bar once through
// update_status(NULL), except that with quiet_start 1 the records with index
// 0 to 18 (the install script's directory records) do not. True when the end
// record was reached; false when a command stopped the script or a record
// carries a code of 13 or more. Nothing done before a stop is undone.
bool run_script(const SCRIPT_RECORD* script, const char* source, const char* destination,
                const char* start_menu, uint32_t reserved, uint8_t quiet_start);

// Returns a new SCRIPT_PATH_SIZE-byte buffer (malloc; the caller frees it)
// holding text with its path tokens replaced, or NULL when text is NULL, when
// the result would not fit (a path is never cut), when a token in text has no
// value in this run, or when no memory is left. Tokens are tried in table
// order at each '<': "<DST><SRC>" expands both, "<SRC><DST>" only the first.
// Meaningful only while run_script is running.
char* expand_path(const char* text);

// Resolves the special folders behind the "<CSIDL_...>" tokens into buffers
// of the tracked allocator. Called by run_script at the start of every run.
void fill_folder_paths(void);

// ---- Commands ------------------------------------------------------------

// A command handler: takes its record, returns SCRIPT_GO_ON, SCRIPT_STOP or
// SCRIPT_SKIP_NEXT (any other value counts as SCRIPT_GO_ON).
typedef uint16_t (*SCRIPT_HANDLER)(const SCRIPT_RECORD* record);

// The interpreter's handlers, indexed by code (COMMANDS.cpp). An entry left
// NULL is passed over as if its command had succeeded. Tests may swap
// entries.
extern SCRIPT_HANDLER script_handlers[CMD_END];

// What the delete commands of one run kept and could not delete. A tree the
// user declined (No to CMD_REMOVE_TREE) is kept whole for the rest of the
// run: every later delete passes over its files and directories, and that
// is not a failure. A deletion that did not happen (a file that stayed, a
// link left in place, a directory too deep for the ANSI calls to list) is
// counted once per path. run_script forgets both when it starts.
void script_deletions_reset(void);
// The number of deletions of the last run that did not happen; *first_path
// (when first_path is not NULL) points at the first such path, "" when there
// was none. The text lives until the next run starts.
uint32_t script_failed_deletions(const char** first_path);

// The message boxes of the scripts (errors, the delete question), all without
// an owner window: text, caption and MB_* type in, the ID* answer out.
// Points at MessageBoxA; tests point it at a scripted answerer.
typedef int32_t (*SCRIPT_MESSAGE_BOX)(const char* text, const char* caption, uint32_t type);
extern SCRIPT_MESSAGE_BOX script_message_box;

#endif
