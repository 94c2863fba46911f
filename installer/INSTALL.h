// INSTALL: the installer's shared state and the operations its parts call on
// each other (start-up, panel, install flow, remove flow).
#ifndef INSTALL_H
#define INSTALL_H

#include <windows.h>
#include <stdint.h>

#include "folder_service.h"
#include "script_host.h"

#define INSTALL_PATH_SIZE 512
#define INSTALL_BASE_SIZE 260
#define INSTALL_PROBE_SIZE 256

// The installer's one process-wide record; starts zero-filled. Every text
// field is a terminated ANSI string, and every write into it is bounded by
// its size: a text that does not fit is refused, never cut and then used.
struct InstallerState {
    HINSTANCE instance;                // own module: dialog, bitmaps, icon, strings
    HWND main_dialog;                  // the panel
    HWND desktop_window;               // parent of the panel
    uint32_t language_offset;          // added to every string id
    bool installed;                    // installation registered, or running as uninstaller
    bool remove_mode;                  // command line was exactly "remove"
    bool start_screen_shown;           // a start screen (not the path screen) is up
    FOLDER_PATH_FUNCTION folder_path_function;
    HMODULE folder_library;            // "SHFolder.dll", never unloaded
    char default_base_folder[INSTALL_BASE_SIZE];   // base of the suggested path
    char program_files_folder[INSTALL_PATH_SIZE];
    char desktop_folder[INSTALL_PATH_SIZE];
    char start_directory[INSTALL_PATH_SIZE];       // "D:" for a drive root
    char install_dir[INSTALL_PATH_SIZE];
    char product_name[INSTALL_PATH_SIZE];          // "Tarnholm Vesk"
    char programs_folder[INSTALL_PATH_SIZE];       // Start-menu Programs folder
    char uninstaller_path[INSTALL_PATH_SIZE];      // "<windows>\<product> remove.exe"
    char source_root[INSTALL_PATH_SIZE];           // "E:\" of the game CD
    char relocation_target[INSTALL_PATH_SIZE];
    char medium_probe_path[INSTALL_PROBE_SIZE];
    bool relocation_final_pass;
    uint32_t relocation_calls;
    HBITMAP background_bitmap;         // bitmap 3000
    HBITMAP button_bitmap;             // bitmap 156, the button skin
    HBRUSH background_brush;           // black stock brush
    uint32_t display_bits_per_pixel;   // colour depth at the last paint
    MSG shared_message;                // main loop and update_status
};

extern InstallerState installer_state;

// Fixed names of the product in the registry.
#define INSTALL_PRODUCT_KEY "software\\brisvane studios\\tarnholm 2"
#define INSTALL_UNINSTALL_KEY \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3C9A51E2-5B7D-4F08-9E61-2D4B7A0C8F35}"
#define INSTALL_WINDOW_TITLE "Tarnholm Install Patch v1.1"

// ---- Start-up (startup.cpp) -----------------------------------------------

// The program: start-up, the message loop until a quit message, shutdown.
// Returns the exit status of a normal end; the flows and fatal conditions
// end the process themselves.
int run_installer(HINSTANCE instance, const char* command_line);

// Sets uninstaller_path and, when the uninstall entry already has an
// "UninstallString", rewrites it to the quoted uninstaller command. Never
// creates the entry.
void repoint_uninstall_string(void);

// Sets install_dir to the first candidate whose three files all open: the
// registered "InstallDir" (one trailing backslash removed), then the setup
// default directory under program_files_folder, which is also the fallback.
// A candidate too long for its probe paths counts as missing.
void find_existing_installation(void);

// Formats into a fixed field. False, with the field emptied, when the text
// does not fit: callers then leave the path unused.
bool format_path(char* field, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- Panel (panel.cpp) ----------------------------------------------------

INT_PTR CALLBACK panel_procedure(HWND window, UINT message, WPARAM first, LPARAM second);
void load_skin_bitmaps(void);
void show_not_installed_screen(void);
void show_installed_screen(void);
void show_remove_screen(void);
void show_path_screen(void);
void show_working_screen(void);
void paint_background(HWND window);
void draw_panel_item(HWND window, const DRAWITEMSTRUCT* item);
// Shows the system's text for the calling thread's last error.
void show_last_error(void);

// ---- Flows (install.cpp, remove.cpp) ----------------------------------------

// Ok on the path screen: either returns to the path screen or ends the process.
void run_install(void);
// Remove on the installed or remove screen.
void remove_installation(void);

#endif
