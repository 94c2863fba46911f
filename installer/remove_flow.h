// The remove flow, started by Remove on the installed or remove screen.
#ifndef REMOVE_FLOW_H
#define REMOVE_FLOW_H

// Asks, then runs the built-in remove script against install_dir and the
// game's Start-menu folder and deletes the product key and the uninstall
// entry. Returns after No, a refused directory, a stopped script or files
// that stayed, and in remove mode; otherwise ends the process with status 1.
void remove_installation(void);

#endif
