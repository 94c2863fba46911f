// FOOTPRINT: what the installer leaves on the test machine, set up, read back
// and wiped between cases, and the host's hands for what Wine cannot do
// itself. Everything goes through the 32-bit registry view and the shell
// folders that the installer sees.
#ifndef FOOTPRINT_H
#define FOOTPRINT_H

#include <stddef.h>

#include <string>

#include "product.h"

// Removes the installer's whole footprint: the product key, the uninstall
// entry, the setup default directory, the Start-menu folder, the desktop
// link and the copies in the Windows directory. False when something stayed.
bool FOOTPRINT_reset(void);
// Deletes a tree or a file. Refuses (false) a drive root and the folders
// directly below one, in any spelling. A symbolic link in the tree is removed
// as a link; what lies behind it stays. True when nothing is left.
bool FOOTPRINT_delete_tree(const char* path);
// Creates every level of the full path.
bool FOOTPRINT_make_directories(const char* path);

// The host's name of a machine path ("" when it has none).
std::string FOOTPRINT_host_path(const char* path);
// Runs command in the host's shell; true once it has succeeded.
bool FOOTPRINT_host(const std::string& command);
// Makes link a host symbolic link to target, or removes the link itself,
// never what it points to (both paths of the machine).
bool FOOTPRINT_make_link(const char* target, const char* link);
bool FOOTPRINT_remove_link(const char* link);
// Runs the host's tool on the host's name of path, its output into the file
// "host_tool_output.txt" of the current directory, whose full path goes to
// output (size bytes).
bool FOOTPRINT_host_tool_output(const char* tool, const char* path, char* output, size_t size);

// A shell folder by CSIDL ("" when unknown), and the setup default
// directory below the Program Files folder.
std::string FOOTPRINT_folder(int csidl);
std::string FOOTPRINT_setup_default(void);
// HKEY_LOCAL_MACHINE: a string value ("<missing>" when there is none), and
// whether a key exists.
std::string FOOTPRINT_value(const char* key, const char* name);
bool FOOTPRINT_set_value(const char* key, const char* name, const char* value);
bool FOOTPRINT_key_exists(const char* key);

#endif
