// The directory tree walker: reports the entries of a directory, and with
// descent of all its subdirectories, to a callback; classifies drives.
#ifndef WALKER_H
#define WALKER_H

#include <stdint.h>

// Callback kinds.
#define WALK_FILE      0  // path: full path of a file
#define WALK_DIRECTORY 1  // path: full path of a directory
#define WALK_TICK      2  // path: NULL; given before every listing step
#define WALK_LINK      3  // path: a reparse point (junction or symbolic link); never entered

// Walk flags.
#define WALK_DESCEND 1u  // descend into all subdirectories

// Drive classes (bits of a mask).
#define DRIVE_CLASS_FIXED   1
#define DRIVE_CLASS_CDROM   2
#define DRIVE_CLASS_NETWORK 4

typedef void (*WALK_CALLBACK)(const char* path, int32_t kind);

// Walks directory: first every entry matching pattern ("%s\%s" full paths,
// files, directories and links mixed, in listing order), then, with
// WALK_DESCEND, each subdirectory completely, in listing order. "." and ".."
// are never reported. A reparse point is reported as WALK_LINK and never
// entered, so nothing behind a link is ever reported. A missing directory
// gives ticks only. True when the walk ran to its end, false when a callback
// ended it through abort_walk.
bool walk_tree(const char* pattern, const char* directory, WALK_CALLBACK callback, uint32_t flags);

// True when the walker can list directory: its search path is not too long
// for the ANSI calls. A directory deeper than that is reported by its
// parent's listing, but its own listing finds nothing.
bool walk_can_list(const char* directory);

// Ends the walk in progress (nested walks included) after the callback returns.
void abort_walk(void);

// What the directory listing said about the entry being reported.
struct WALK_ENTRY {
    uint32_t attributes;  // FILE_ATTRIBUTE_* bits
    uint64_t size;        // bytes
};

// The listing's record of the entry the callback is given (a file, a
// directory or a link), so that a callback need not ask the file system
// again; NULL during a tick and outside a walk. Valid until the callback
// returns.
const WALK_ENTRY* walk_entry(void);

// The class of drive letter: DRIVE_CLASS_FIXED, _CDROM, _NETWORK or 0.
int32_t drive_class(char letter);

// Walks the root "X:" of every drive A..Z whose class shares a bit with
// mask, with descent. Always true.
bool walk_drives(const char* pattern, int32_t mask, WALK_CALLBACK callback);

// The recursive worker behind both walks.
void walk_directory(const char* pattern, const char* directory, WALK_CALLBACK callback,
                    uint32_t flags);

#endif
