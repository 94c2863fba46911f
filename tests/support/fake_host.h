// A host for the install scripts in tests: load_text and update_status of
// script_host.h without a panel. It records what would have reached the
// progress bar and hands each status text to a hook.
#ifndef FAKE_HOST_H
#define FAKE_HOST_H

#include <stdint.h>
#include <string>
#include <vector>

// The number of update_status(NULL) calls: progress steps.
extern int32_t fake_progress_steps;

// Called with every status text; NULL: none.
extern void (*fake_status_hook)(const char* text);

// Forgets the steps counted and the hook.
void fake_host_reset(void);

#endif
