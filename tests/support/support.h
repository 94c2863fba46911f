// The tests' support library: files and trees in the test machine, shell
// links read back, and (support_debug) the library's debug files and call
// stack. Paths are the machine's; nothing here reaches beyond its drives.
#ifndef SUPPORT_H
#define SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

// ---- Files and trees --------------------------------------------------------

// The file's bytes; "<missing>" when it cannot be opened.
std::string read_file(const std::string& path);
// The file read in text mode (a line ends in "\n" however it is stored), as
// the library's debug files are meant to be read; "<missing>" as above.
std::string read_text(const std::string& path);
// Writes bytes, creating the missing directories above the file.
bool write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
bool is_directory(const std::string& path);
// The full path of a path relative to the current directory ("" when too long).
std::string full_path(const std::string& path);
bool make_directories(const std::string& path);
// The tests' one tree deletion: the test kit's guarded one, which refuses a
// drive root and the folders directly below it, and removes a link as a
// link, never what lies behind it. True when nothing is left.
bool delete_tree(const std::string& path);
// Every entry below directory, sorted, relative to it: "dir\" for a
// directory, "name@" for a link (never entered), and for a file "name", or
// with contents "name=<bytes>" (longer ones as "<N bytes, hash>").
std::vector<std::string> tree(const std::string& directory, bool with_contents = false);

// ---- Shell links ---------------------------------------------------------------

struct LinkFields {
    std::string target, arguments, directory, description;
};
// Reads a link file through the shell's link object (COM must be initialised).
bool read_link(const std::string& path, LinkFields* link);
// What the host's lnkinfo prints about a link file.
std::string lnkinfo(const std::string& path);

// ---- Debug files and the call stack (support_debug) ----------------------------

using Lines = std::vector<std::string>;

// The lines of a debug file after its header line and the blank line after
// it. A well-formed "[%8s,%5d] " prefix becomes "<short name>: "; any other
// line stays whole, so a malformed prefix shows in a failed comparison.
Lines debug_lines(const std::string& path);
// Starts the diagnostics with the call stack (and flags) on, writing to
// develop_file; every library call made until callstack_end must leave the
// stack as it found it.
void callstack_begin(const char* develop_file, uint32_t flags);
// Ends the diagnostics and returns what is left on the call stack and any
// "Callstack full" or "Stack empty" report: "" when every call was balanced.
std::string callstack_end(void);

#endif
