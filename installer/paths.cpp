// Bounded formatting into the installer's fixed path fields.
#include "INSTALL.h"

#include <stdarg.h>
#include <stdio.h>

bool format_path(char* field, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(field, size, format, arguments);
    va_end(arguments);
    if (length < 0 || (size_t)length >= size) {
        if (size > 0) field[0] = '\0';
        return false;
    }
    return true;
}
