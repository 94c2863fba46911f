// Bounded path helpers.
#include "paths.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

bool format_path(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    if (length < 0 || (size_t)length >= size) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    return true;
}

bool read_windows_directory(char* buffer, size_t size) {
    UINT length = GetWindowsDirectoryA(buffer, (UINT)size);
    if (length == 0 || length >= size) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    return true;
}

bool file_opens(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return false;
    fclose(file);
    return true;
}
