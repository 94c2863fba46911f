// The scripts' host without a panel: texts come from a copy of the
// string-table entries that the install scripts use.
#include "fake_host.h"
#include "script_host.h"

#include <stdio.h>

int32_t fake_progress_steps;
void (*fake_status_hook)(const char* text);

// clang-format off
static const struct { uint32_t id; const char* text; } fake_texts[] = {
    {20, "Question!"}, {26, "Error!"}, {29, "Error opening file :"},
    {30, "Failed to create file Link."}, {31, "Failed to create Webpage link."},
    {35, "Unable to write to file:"}, {36, "Do you want to delete this dir"},
};
// clang-format on

bool load_text(uint32_t id, char* buffer, int32_t size) {
    if (buffer == NULL || size <= 0) return false;
    buffer[0] = '\0';
    for (const auto& entry : fake_texts)
        if (entry.id == id) snprintf(buffer, (size_t)size, "%s", entry.text);
    return buffer[0] != '\0';
}

void update_status(const char* text) {
    if (text == NULL) fake_progress_steps++;
    if (text != NULL && fake_status_hook != NULL) fake_status_hook(text);
}

void fake_host_reset(void) {
    fake_progress_steps = 0;
    fake_status_hook = NULL;
}
