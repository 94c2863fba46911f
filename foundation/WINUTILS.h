// WINUTILS: the foundation library's Windows utilities.
#ifndef WINUTILS_H
#define WINUTILS_H

#include <stdint.h>

// ---- Registry helpers ------------------------------------------------------

// ---- Shell links and Start-menu folders -----------------------------------

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

// Cuts text into words in place: blanks, tabs, line feeds and carriage
// returns outside double quotes separate words; quotes group, and the quotes
// around a quoted word are dropped (terminators are written into text).
// Returns a malloc'ed list of references into text (the caller frees it)
// and sets *count; NULL, count untouched, for a text without words or when
// the list cannot be had.
char** WINUTILS_parse_command_line(char* text, int32_t* count);

#endif
