// The install flow, started by Ok on the path screen: checks the chosen
// directory, finds the game CD, runs its set-up program and moves what that
// program writes into the setup default directory over to the chosen
// directory, then records the installation.
#ifndef INSTALL_FLOW_H
#define INSTALL_FLOW_H

#include <stdint.h>

// The free-space bands, in KiB: above the first band 1, above the second
// band 2, above the third band 3, otherwise too little.
#define INSTALL_BAND1_KIB    1331200u
#define INSTALL_BAND2_KIB    1075200u
#define INSTALL_BAND3_KIB    665600u
#define INSTALL_POLL_MS      5000
#define INSTALL_FINAL_PASSES 6

// Ok on the path screen: either returns to the path screen or ends the process.
void run_install(void);
// Creates every parent directory of install_dir (not its last level),
// ignoring failures; does nothing without a drive letter.
void create_parent_directories(void);
// True when install_dir may be used under every rule of the directory
// policy; install_dir then holds its normalised form, the only one used from
// then on. Otherwise shows why in a box owned by the panel (string 27, or a
// message of its own for a special folder or a folder that is not empty)
// and returns false.
bool validate_install_dir(void);
// The free-space band (1, 2 or 3) of the drive of path; ends the process
// with status 1 when it has 650 MiB or less, or its space cannot be read.
int32_t free_space_band(const char* path);
// Free space of a drive root in KiB, saturated at 0xFFFFFFFF; 0 on failure.
uint32_t free_space_kib(const char* root);
// The root ("X:\") of the first CD-ROM drive holding the game, kept in
// medium_probe_path. Ends the process when the user gives up or when the
// CD needs no patch.
const char* find_source_medium(void);
// Creates every level of path, ignoring failures.
void make_directory_path(const char* path);
// Runs the CD's setup.exe and relocates while it runs and after it ended.
void run_setup_and_relocate(const char* source_root, const char* target);
// The files still in the setup default directory that the relocation should
// have moved (every file but the "*rra" ones); 0 when the target is that
// directory itself.
uint32_t count_leftover_files(const char* target);
// The walk callback of the relocation passes (kind: 0 file, 1 directory, 2 tick).
void relocate_entry(const char* path, int32_t kind);

#endif
