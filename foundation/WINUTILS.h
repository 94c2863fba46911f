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

#endif
