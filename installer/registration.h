// What records an installation outside its directory: the product key's
// values, the Start-menu and desktop links, and the uninstall entry's
// command, which points at the uninstaller copy in the Windows directory.
#ifndef REGISTRATION_H
#define REGISTRATION_H

#include <stddef.h>

// The uninstaller copy's path, "<Windows directory>\<product name> remove.exe",
// into path (size bytes). False (path empty) when it does not fit.
bool format_uninstaller_path(char* path, size_t size);

// Sets uninstaller_path and, when the uninstall entry already has an
// "UninstallString", rewrites it to the quoted uninstaller command. Never
// creates the entry.
void repoint_uninstall_string(void);

// Registry values "InstallDir" and "InstallSource", the Start-menu links and
// an existing desktop link. Failures are ignored.
void register_installation(const char* source_root, const char* target);

// Reads the current user's Start-menu Programs folder into programs_folder.
// False (the field unchanged) when it cannot be read whole or is not an
// absolute path ("X:\..." or "\\server\share\...").
bool read_programs_folder(void);

#endif
