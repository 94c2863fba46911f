// The installer's shared state and the few helpers every part of it uses.
// The parts, each with its header: start-up (startup.h), the panel
// (panel.h), the install flow (install_flow.h) with its file mover
// (file_mover.h), the registration of an installation (registration.h) and
// the remove flow (remove_flow.h). The product's names are in product.h.
#ifndef INSTALLER_H
#define INSTALLER_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "folder_service.h"
#include "paths.h"
#include "script_host.h"

#define INSTALL_PATH_SIZE  512
#define INSTALL_BASE_SIZE  260
#define INSTALL_PROBE_SIZE 256

// The installer's one process-wide record; starts zero-filled. Every text
// field is a terminated ANSI string, and every write into it is bounded by
// its size: a text that does not fit is refused, never cut and then used.
struct InstallerState {
    HINSTANCE instance;        // own module: dialog, bitmaps, icon, strings
    HWND main_dialog;          // the panel
    HWND desktop_window;       // parent of the panel
    uint32_t language_offset;  // added to every string id
    bool installed;            // installation registered, or running as uninstaller
    bool remove_mode;          // command line was exactly "remove"
    bool start_screen_shown;   // a start screen (not the path screen) is up
    FOLDER_PATH_FUNCTION folder_path_function;
    HMODULE folder_library;                       // "SHFolder.dll", never unloaded
    char default_base_folder[INSTALL_BASE_SIZE];  // base of the suggested path
    char program_files_folder[INSTALL_PATH_SIZE];
    char desktop_folder[INSTALL_PATH_SIZE];
    char start_directory[INSTALL_PATH_SIZE];  // "D:" for a drive root
    char install_dir[INSTALL_PATH_SIZE];
    char product_name[INSTALL_PATH_SIZE];      // "Tarnholm Vesk"
    char programs_folder[INSTALL_PATH_SIZE];   // Start-menu Programs folder
    char uninstaller_path[INSTALL_PATH_SIZE];  // "<windows>\<product> remove.exe"
    char source_root[INSTALL_PATH_SIZE];       // "E:\" of the game CD
    char relocation_target[INSTALL_PATH_SIZE];
    char medium_probe_path[INSTALL_PROBE_SIZE];
    bool relocation_final_pass;
    uint32_t relocation_calls;
    HBITMAP background_bitmap;        // bitmap 3000
    HBITMAP button_bitmap;            // bitmap 156, the button skin
    HBRUSH background_brush;          // black stock brush
    uint32_t display_bits_per_pixel;  // colour depth at the last paint
    MSG shared_message;               // main loop and update_status
};

extern InstallerState installer_state;

// The setup default directory, "<Program Files>\VKQ\Tarnholm Vesk", with a
// trailing backslash when with_separator. False (buffer empty) when it does
// not fit.
bool setup_default_directory(char* buffer, size_t size, bool with_separator);

// Shows text in a message box owned by the panel, captioned with string
// caption_id; returns the box's answer.
int show_box(const char* text, uint32_t caption_id, UINT type);
// The same with string text_id as the text.
int show_text_box(uint32_t text_id, uint32_t caption_id, UINT type);

#endif
