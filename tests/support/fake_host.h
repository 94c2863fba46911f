// A host for the install scripts in tests: load_text and update_status of
// script_host.h without a panel. It records what would have reached the
// status line and the progress bar.
#ifndef FAKE_HOST_H
#define FAKE_HOST_H

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
void fake_host_reset(void);

#endif
