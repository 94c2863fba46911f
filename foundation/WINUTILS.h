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
