// WINUTILS: the foundation library's Windows utilities.
#ifndef WINUTILS_H
#define WINUTILS_H

#include <stdint.h>

// ---- Registry helpers ------------------------------------------------------
//
// A root key is named by a selector: 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER,
// 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS, 4 HKEY_CURRENT_CONFIG, 5 HKEY_DYN_DATA.
// Any other selector gives false and touches nothing. Each call opens, flushes
// and closes its own key; none shows a message or traces its failures.

// Size of the caller's buffer for WINUTILS_get_registry_entry.
#define WINUTILS_REGISTRY_TEXT_SIZE 512
// Size of the joined key path of WINUTILS_clear_registry_entry.
#define WINUTILS_REGISTRY_PATH_SIZE 256

// Writes one value under key (below the selected root; missing levels are
// created). value_name NULL is the key's default value. With text, a REG_SZ
// value (stored with its terminator); without, *number as REG_DWORD. True when
// the value was written and the key flushed; false also when neither text nor
// number is given. A failed flush gives false although the value is stored.
bool WINUTILS_set_registry_entry(int32_t root, const char* key, const char* value_name,
                                 const char* text, const uint32_t* number);

// Deletes "key\subkey" (value_name NULL; only a key without subkeys) or one
// value of it. True when it was deleted. An empty subkey, or a joined path
// that does not fit WINUTILS_REGISTRY_PATH_SIZE, gives false and deletes
// nothing.
bool WINUTILS_clear_registry_entry(int32_t root, const char* key, const char* subkey,
                                   const char* value_name);

// Reads one value (value_name NULL: the default value) as text into buffer
// (WINUTILS_REGISTRY_TEXT_SIZE bytes): a REG_SZ as stored, a REG_DWORD as
// signed decimal text. True when the value was read; the buffer then always
// holds a terminated string. Other types, missing keys or values and strings
// that do not fit with their terminator give false, and a given buffer is
// then left empty (never a cut text).
bool WINUTILS_get_registry_entry(int32_t root, const char* key, const char* value_name,
                                 char* buffer);

// Private, declared for the module's own tests: makes the size bytes of a
// string read into buffer (WINUTILS_REGISTRY_TEXT_SIZE bytes) a terminated
// string. False when size is over the buffer, or when the text fills the
// whole buffer without a terminator.
bool winutils_terminate_registry_text(char* buffer, uint32_t size);

// ---- Shell links and Start-menu folders -----------------------------------

// Where the shell keeps the user's folders by name ("Programs", "Desktop",
// ...), below HKEY_CURRENT_USER and, for the common ones, HKEY_LOCAL_MACHINE.
#define WINUTILS_SHELL_FOLDERS_KEY \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

// Writes the shell link link_file (an ANSI path of at most 259 characters)
// that opens target in working_directory with arguments (NULL: none) and
// carries description as its comment. COM must be initialised on the calling
// thread. True when the link file was saved; false when the shell's link
// object cannot be created, the path does not fit or the save fails.
bool WINUTILS_create_file_link(const char* target, const char* link_file, const char* description,
                               const char* working_directory, const char* arguments);

// Creates the folder name (one level) under the current user's Start-menu
// Programs folder, read from the registry. False when that folder cannot be
// read or the joined path does not fit; true otherwise, also when the folder
// exists already or cannot be created.
bool WINUTILS_create_start_menu_folder(const char* name);

// ---- Dialog utilities ------------------------------------------------------

// Resource ids of the text-input dialog template, which the program that
// calls WINUTILS_get_text_string supplies.
#define WINUTILS_TEXT_DIALOG 900
#define WINUTILS_TEXT_PROMPT 910
#define WINUTILS_TEXT_ANSWER 911

// File requestor mode bits: the dialogs to try, in this order.
#define WINUTILS_REQUEST_OPEN       1  // open dialog; the file must exist
#define WINUTILS_REQUEST_SAVE       2  // save dialog, same flags
#define WINUTILS_REQUEST_SAVE_PLAIN 4  // save dialog, overwrite prompt only

// Chooses the module whose resources hold template WINUTILS_TEXT_DIALOG;
// NULL (the start value) means the program's own module.
void WINUTILS_set_dialog_instance(void* instance);

// Shows the modal text-input dialog with title and prompt, the buffer's text
// (size bytes, terminated) as default answer, and returns once it is closed
// with OK, the answer in buffer (cut to size - 1 characters). Cancelling or
// closing the dialog ends the process with exit code -1. Without a template
// the buffer keeps its text. Always returns 0.
int32_t WINUTILS_get_text_string(const char* title, const char* prompt, char* buffer, int32_t size);

// Shows the file dialogs chosen by mode (WINUTILS_REQUEST_* bits) in order
// until one returns a file. file_name (at least 256 bytes) holds the initial
// name in and the chosen name out. The dialogs start in initial_directory;
// the current directory is restored on every way out. True when a dialog
// returned a file; false when none did, for mode 0 without any dialog, and
// when the filter does not fit its buffer.
bool WINUTILS_file_requestor(const char* title, char* file_name, const char* default_extension,
                             const char* filter_description, const char* filter_pattern,
                             const char* initial_directory, uint8_t mode);

// Shows the shell's folder browser with title (NULL: "Choose a folder").
// True when the user chose a folder; path (MAX_PATH bytes) then holds its
// path, or its display name when it has no file-system path. False when
// cancelled, and for a NULL path (with a trace line).
bool WINUTILS_folder_requestor(const char* title, char* path);

// Dispatches every message already waiting in the thread's queue and
// returns; returns at once on an empty queue. A WM_QUIT met here is taken
// from the queue and ends the pumping.
void WINUTILS_process_messages(void);
// The same through the caller's message record (a MSG), which holds the last
// message taken when it returns.
void WINUTILS_pump_messages(struct tagMSG* message);

// Cuts text into words in place: blanks, tabs, line feeds and carriage
// returns outside double quotes separate words, so "a \"b c\" d" gives a,
// b c and d. A word's leading quotes are dropped and a closing quote ends it
// (terminators are written into text); a quote inside a word stays, and what
// follows its closing quote up to the next separator is dropped. Returns a
// malloc'ed list of references into text (the caller frees it) and sets
// *count; NULL, count untouched, for a text without words or when the list
// cannot be had.
char** WINUTILS_parse_command_line(char* text, int32_t* count);

#endif
