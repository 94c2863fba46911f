// The file mover of the relocation: one file from the setup default
// directory to its place in the install directory, whole or not at all.
#ifndef FILE_MOVER_H
#define FILE_MOVER_H

// Moves source to destination; a destination that exists is never touched.
// On the same drive the file is renamed, which the system refuses while the
// set-up program still holds it open. Across drives it is copied, and only
// when it can be opened without sharing, to a partial name beside the
// destination that becomes the destination only when the copy is whole;
// the source goes after that, and when it cannot, the copy goes again.
// Either way a file still being written stays for a later pass. Nothing is
// reported. Within one pass (see start_move_pass), once a rename has failed
// because source and destination lie on different drives, later files are
// copied without a rename being tried.
void move_file(const char* source, const char* destination);

// Begins a pass of moves: the next move tries a rename first again.
void start_move_pass(void);

#endif
