// Bounded path helpers shared by the scripts' directory policy and the
// installer. A path that does not fit its buffer is refused, never cut.
#ifndef PATHS_H
#define PATHS_H

#include <stddef.h>

// Formats into buffer (size bytes). False, with the buffer emptied, when the
// text does not fit: callers then leave the path unused.
bool format_path(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The Windows directory into buffer (size bytes). False, with the buffer
// emptied, when it cannot be read whole.
bool read_windows_directory(char* buffer, size_t size);

// True when the file at path opens for binary reading (it is closed again).
bool file_opens(const char* path);

#endif
