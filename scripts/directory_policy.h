// The install-directory policy: which directories the game may call its
// own. It depends on nothing of the installer, so that the install flow,
// the remove flow and deletions anywhere can ask it alike. A directory is
// judged by what it names, never by how it is spelled: the path is put into
// its normalised full form first, and that form is what is compared,
// reported and used afterwards.
#ifndef DIRECTORY_POLICY_H
#define DIRECTORY_POLICY_H

#include <stddef.h>
#include <stdint.h>

// Where the CD's set-up program always installs, below the Program Files folder.
#define SETUP_DEFAULT_FORMAT "%s\\VKQ\\Tarnholm Vesk"

// Size of every path the policy handles or hands out, terminator included.
#define DIRECTORY_PATH_SIZE 512

// Rules a caller can ask for, besides those that always hold: a path "X:\..."
// without "..", not a drive root, not the Windows directory, and short
// enough for every name the flows append to it.
#define DIRECTORY_RULE_SPECIAL       1u  // no special folder, no folder above one
#define DIRECTORY_RULE_OUTSIDE_SETUP 2u  // not inside the setup default directory
#define DIRECTORY_RULE_NEW_OR_GAME   4u  // new, empty, or an earlier installation

// What the install flow asks (all rules), and what the remove flow and the
// scripts' deletions ask: only what the path names, since the game's own
// files are there then.
#define DIRECTORY_RULES_INSTALL \
    (DIRECTORY_RULE_SPECIAL | DIRECTORY_RULE_OUTSIDE_SETUP | DIRECTORY_RULE_NEW_OR_GAME)
#define DIRECTORY_RULES_REMOVE DIRECTORY_RULE_SPECIAL

// Verdicts.
#define DIRECTORY_ACCEPTED  0
#define DIRECTORY_NOT_VALID 1  // not a valid directory at all
#define DIRECTORY_SPECIAL   2  // a special folder of the system or the user, or above one
#define DIRECTORY_NOT_EMPTY 3  // exists and holds things that are not the game's

// Judges path under rules. normalised (size bytes) receives the normalised
// full form whenever it could be formed, refused or not, and is empty
// otherwise; only an accepted form may be used as the directory. Reads the
// disk and the shell's folders; changes nothing.
int32_t judge_directory(const char* path, uint32_t rules, char* normalised, size_t size);

// The normalised full form of path into normalised (size bytes): the
// system's full path, trailing separators, dots and blanks removed, short
// names expanded as far as the path exists. False (normalised empty) for a
// path that is not "X:\...", contains "..", or does not fit.
bool normalise_directory(const char* path, char* normalised, size_t size);

// True when directory holds an installation of the game: its three probe
// files "Tarn II.exe", "tnh2main.exe" and "mss32.dll" all open for reading.
bool holds_installation(const char* directory);

#endif
