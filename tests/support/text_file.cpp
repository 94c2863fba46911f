#include "text_file.h"

#include <stdio.h>

std::string read_text_file(const char* name) {
    std::string text;
    FILE* file = fopen(name, "r");
    if (file == NULL) return "<missing>";
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    fclose(file);
    return text;
}
