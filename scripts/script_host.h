// What the install scripts need of the program that runs them: its texts
// and its progress display. The program links one implementation of both;
// the scripts know nothing else of it.
#ifndef SCRIPT_HOST_H
#define SCRIPT_HOST_H

#include <stdint.h>

// Loads text id of the program's string table into buffer (size bytes,
// always terminated). False when the id has no text.
bool load_text(uint32_t id, char* buffer, int32_t size);

// With text: shows it as the status line. Without (NULL): advances the
// progress bar one step. Either way, dispatches the messages that wait, so
// the window stays alive during long work.
void update_status(const char* text);

#endif
