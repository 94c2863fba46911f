// FOOTPRINT: what the installer leaves on a machine, for tests to set up,
// read back and wipe between cases. Everything goes through the same 32-bit
// registry view and shell folders the installer itself sees.
#ifndef FOOTPRINT_H
#define FOOTPRINT_H

#include <stdint.h>

#include "product.h"

// Removes the installer's whole footprint: the product key, the uninstall
// entry, the setup default directory, the Start-menu folder, the desktop
// link and the copies in the Windows directory. False when something stayed.
bool FOOTPRINT_reset(void);

// Deletes a directory tree. Refuses (false) anything that is not at least
// two levels below a drive root, so a wrong path cannot take a drive. A
// symbolic link in the tree is removed as a link; what lies behind it stays.
bool FOOTPRINT_delete_tree(const char* path);
// Makes link a host symbolic link to target (both paths of the machine);
// Wine lists a link to a directory with FILE_ATTRIBUTE_REPARSE_POINT. False
// when it did not appear.
bool FOOTPRINT_make_link(const char* target, const char* link);
// Removes the symbolic link itself, never what it points to.
bool FOOTPRINT_remove_link(const char* link);
// Runs the host tool Y:\testkit\host\<tool> on the host's name of path, its
// output going to a file in the current directory whose path is returned in
// output (size bytes), and waits until that output is complete.
bool FOOTPRINT_host_tool_output(const char* tool, const char* path, char* output, size_t size);
// Creates every level of path.
bool FOOTPRINT_make_directories(const char* path);

// Shell folder by CSIDL into path (MAX_PATH bytes).
bool FOOTPRINT_folder(int csidl, char* path);
// "<Program Files>\VKQ\Tarnholm Vesk", the set-up program's fixed target.
bool FOOTPRINT_setup_default_directory(char* path);
// The Windows directory.
bool FOOTPRINT_windows_directory(char* path);

// Files.
bool FOOTPRINT_write_file(const char* path, const char* contents);
// Reads at most size - 1 bytes, terminated; false when the file cannot be read.
bool FOOTPRINT_read_file(const char* path, char* contents, int size);
bool FOOTPRINT_file_exists(const char* path);

// HKEY_LOCAL_MACHINE, 32-bit view: string values and key existence.
bool FOOTPRINT_set_value(const char* key, const char* name, const char* value);
bool FOOTPRINT_get_value(const char* key, const char* name, char* value, int size);
bool FOOTPRINT_key_exists(const char* key);

#endif
