// The installer's shared state, its helpers, and its side of script_host.h:
// the text lookup and the status report that the scripts call.
#include "installer.h"

#include "directory_policy.h"
#include "WINUTILS.h"
#include "panel.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>

InstallerState installer_state;

bool load_text(uint32_t id, char* buffer, int32_t size) {
    if (buffer == NULL || size <= 0) return false;
    buffer[0] = '\0';
    // The product name is read before the instance handle is stored.
    HINSTANCE module = installer_state.instance ? installer_state.instance : GetModuleHandleA(NULL);
    return LoadStringA(module, id + installer_state.language_offset, buffer, size) > 0;
}

void update_status(const char* text) {
    if (text == NULL) SendMessageA(panel_control(IDC_PROGRESS), PBM_STEPIT, 0, 0);
    // A quit message taken here is swallowed: long work goes on to its end.
    WINUTILS_pump_messages(&installer_state.shared_message);
    if (text != NULL) SendMessageA(panel_control(IDC_STATUS), WM_SETTEXT, 0, (LPARAM)text);
}

bool setup_default_directory(char* buffer, size_t size, bool with_separator) {
    const char* format = with_separator ? SETUP_DEFAULT_FORMAT "\\" : SETUP_DEFAULT_FORMAT;
    return format_path(buffer, size, format, installer_state.program_files_folder);
}

int show_box(const char* text, uint32_t caption_id, UINT type) {
    char caption[INSTALL_PATH_SIZE];
    load_text(caption_id, caption, sizeof caption);
    return MessageBoxA(installer_state.main_dialog, text, caption, type);
}

int show_text_box(uint32_t text_id, uint32_t caption_id, UINT type) {
    char text[INSTALL_PATH_SIZE];
    load_text(text_id, text, sizeof text);
    return show_box(text, caption_id, type);
}
