// Stand-ins for the installer's load_text and update_status, for tests of
// code that reports through them (the install scripts). They record what
// would have reached the panel's status line and progress bar.
#ifndef FAKE_INSTALLER_H
#define FAKE_INSTALLER_H

#include <stdint.h>
#include <string>
#include <vector>

// Every update_status(text), in order.
extern std::vector<std::string> fake_status_texts;
// The number of update_status(NULL) calls: progress steps.
extern int32_t fake_progress_steps;

// Called with every status text before it is recorded; NULL: none.
extern void (*fake_status_hook)(const char* text);

// Forgets what was recorded and the hook.
void fake_installer_reset(void);

#endif
