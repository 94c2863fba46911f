// The installer's helpers that the install scripts call.
#ifndef INSTALLER_H
#define INSTALLER_H

#include <stdint.h>

// Loads string-table text id into buffer (size bytes, always terminated).
// False when the id has no text.
bool load_text(uint32_t id, char* buffer, int32_t size);

// With text: shows it as the status line. Without (NULL): advances the
// progress bar one step. Either way, dispatches the messages that wait, so
// the window stays alive during long work.
void update_status(const char* text);

#endif
