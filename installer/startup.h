// Start-up and main loop: single instance, the shell folders, the search for
// an existing installation, the uninstaller copy and the DirectX library
// copies, the start screen and the message loop.
#ifndef STARTUP_H
#define STARTUP_H

#include <windows.h>

// The program: start-up, the message loop until a quit message, shutdown.
// Returns the exit status of a normal end; the flows and fatal conditions
// end the process themselves.
int run_installer(HINSTANCE instance, const char* command_line);

// Sets install_dir to the first candidate whose three files all open: the
// registered "InstallDir" (one trailing backslash removed), then the setup
// default directory under program_files_folder, which is also the fallback.
// A candidate too long for its probe paths counts as missing.
void find_existing_installation(void);

#endif
