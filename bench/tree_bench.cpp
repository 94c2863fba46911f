// The installer's own tree work, timed inside one process with the panel up
// as the flows show it: every status text goes through the installer's
// update_status into the panel, and the panel repaints under the display
// (bench/run gives it a private one).
//
//   tree_bench [--status-shown] copy SOURCE TARGET
//                          CMD_COPY_TREE of SOURCE into TARGET (made first)
//   tree_bench [--status-shown] remove GAME
//                          the built-in remove script on the game directory
//                          GAME, every question answered Yes
//   tree_bench relocate TARGET
//                          one relocation pass: the install flow's walk with
//                          relocate_entry over the setup default directory,
//                          every file into TARGET (made first)
//
// The panel shows the working screen as the remove flow leaves it: the
// progress bar over ten units a record, the status label hidden. With
// --status-shown the status label is shown as well, so that each status text
// is painted too. The relocation shows the install flow's working text.
//
// Prints "seconds: S", the script run or the pass alone: COM, the folder
// service, the allocator, the panel and its first paint are ready before the
// clock starts. Exits 1 when a script showed an error.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "COPYFLST.h"
#include "WINUTILS.h"
#include "bench_timing.h"
#include "folder_service.h"
#include "install_flow.h"
#include "installer.h"
#include "memory.h"
#include "panel.h"
#include "product.h"
#include "resource.h"
#include "walker.h"

#define FOLDER_FLAG_CREATE   0x8000  // CSIDL_FLAG_CREATE
#define FOLDER_PROGRAM_FILES 0x0026  // CSIDL_PROGRAM_FILES
#define FOLDER_DESKTOP       0x0000  // CSIDL_DESKTOP

static bool script_error_shown;

// The scripts' message boxes: Yes to the delete question; an error ends the
// benchmark as failed.
static int32_t answer_yes(const char* text, const char* caption, uint32_t type) {
    (void)caption;
    if ((type & MB_TYPEMASK) == MB_YESNO) return IDYES;
    fprintf(stderr, "tree_bench: %s\n", text);
    script_error_shown = true;
    return IDOK;
}

// Dispatches until nothing waits any more, the first paint included.
static void settle_panel(void) {
    UpdateWindow(installer_state.main_dialog);
    for (int round = 0; round < 5; round++) {
        WINUTILS_pump_messages(&installer_state.shared_message);
        Sleep(20);
    }
}

// What start-up does before a flow can run, as far as the flows use it: COM,
// the allocator, the folder service and the shell folders, the texts and
// the panel. False when any of it failed.
static bool start_up(void) {
    installer_state.instance = GetModuleHandleA(NULL);
    MEMORY_initialise();
    CoInitialize(NULL);
    OleInitialize(NULL);
    installer_state.folder_path_function = load_folder_path_function();
    installer_state.folder_library = folder_service_library();
    FOLDER_PATH_FUNCTION folder = installer_state.folder_path_function;
    if (folder == NULL ||
        folder(NULL, FOLDER_FLAG_CREATE | FOLDER_PROGRAM_FILES, NULL, 0,
               installer_state.program_files_folder) != S_OK ||
        folder(NULL, FOLDER_FLAG_CREATE | FOLDER_DESKTOP, NULL, 0,
               installer_state.desktop_folder) != S_OK)
        return false;
    InitCommonControls();
    load_text(IDS_PRODUCT_NAME, installer_state.product_name, sizeof installer_state.product_name);
    installer_state.desktop_window = GetDesktopWindow();
    load_skin_bitmaps();
    installer_state.main_dialog =
        CreateDialogParamA(installer_state.instance, MAKEINTRESOURCEA(IDD_PANEL),
                           installer_state.desktop_window, panel_procedure, 0);
    if (installer_state.main_dialog == NULL) return false;
    ShowWindow(installer_state.main_dialog, SW_SHOW);
    SetWindowTextA(installer_state.main_dialog, PRODUCT_WINDOW_TITLE);
    script_message_box = answer_yes;
    return true;
}

// The working screen of a script run, as the remove flow sets it up.
static void show_script_screen(const SCRIPT_RECORD* script, bool status_shown) {
    HWND panel = installer_state.main_dialog;
    show_working_screen();
    char text[INSTALL_PATH_SIZE];
    load_text(IDS_REMOVING, text, sizeof text);
    set_working_text(text);
    if (status_shown) ShowWindow(GetDlgItem(panel, IDC_STATUS), SW_SHOW);
    HWND bar = GetDlgItem(panel, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 10 * count_script_records(script)));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    settle_panel();
}

// The full path of path into full (MAX_PATH bytes); false when it does not fit.
static bool full_path(const char* path, char* full) {
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, NULL);
    return length > 0 && length < MAX_PATH;
}

static int run_timed_script(const SCRIPT_RECORD* script, const char* source,
                            const char* destination, bool status_shown) {
    show_script_screen(script, status_shown);
    double start = bench_now();
    bool complete = run_script(script, source, destination, NULL, 0, 0);
    double seconds = bench_now() - start;
    printf("seconds: %.4f\n", seconds);
    return complete && !script_error_shown ? 0 : 1;
}

static int bench_copy(const char* source, const char* target, bool status_shown) {
    static const SCRIPT_RECORD copy[] = {{CMD_COPY_TREE, "<SRC>", "<DST>"}, {CMD_END, NULL, NULL}};
    char source_path[MAX_PATH];
    char target_path[MAX_PATH];
    if (!full_path(source, source_path) || !full_path(target, target_path)) return 2;
    CreateDirectoryA(target_path, NULL);
    return run_timed_script(copy, source_path, target_path, status_shown);
}

static int bench_remove(const char* game, bool status_shown) {
    char game_path[MAX_PATH];
    if (!full_path(game, game_path)) return 2;
    // No Start-menu folder: the script leaves that record out, as the remove
    // flow does when it knows none.
    return run_timed_script(remove_script, NULL, game_path, status_shown);
}

static int bench_relocate(const char* target) {
    char setup_default[INSTALL_PATH_SIZE];
    if (!setup_default_directory(setup_default, sizeof setup_default, false)) return 2;
    if (!format_path(installer_state.relocation_target, sizeof installer_state.relocation_target,
                     "%s", target))
        return 2;
    make_directory_path(target);
    // The install flow's working display.
    show_working_screen();
    ShowWindow(GetDlgItem(installer_state.main_dialog, IDC_PROGRESS), SW_HIDE);
    set_working_text("Please Wait...This may take several minutes");
    settle_panel();
    installer_state.relocation_final_pass = false;
    double start = bench_now();
    walk_tree("*.*", setup_default, relocate_entry, WALK_DESCEND);
    double seconds = bench_now() - start;
    printf("seconds: %.4f\n", seconds);
    return 0;
}

int main(int argc, char** argv) {
    int first = 1;
    bool status_shown = false;
    if (argc > 1 && strcmp(argv[1], "--status-shown") == 0) {
        status_shown = true;
        first++;
    }
    const char* mode = argc > first ? argv[first] : "";
    int operands = argc - first - 1;
    bool known = (strcmp(mode, "copy") == 0 && operands == 2) ||
                 (strcmp(mode, "remove") == 0 && operands == 1) ||
                 (strcmp(mode, "relocate") == 0 && operands == 1);
    if (!known) {
        fprintf(stderr,
                "usage: tree_bench [--status-shown] copy SOURCE TARGET | remove GAME | "
                "relocate TARGET\n");
        return 2;
    }
    if (!start_up()) {
        fprintf(stderr, "tree_bench: start-up failed\n");
        return 2;
    }
    char** operand = argv + first + 1;
    if (strcmp(mode, "copy") == 0) return bench_copy(operand[0], operand[1], status_shown);
    if (strcmp(mode, "remove") == 0) return bench_remove(operand[0], status_shown);
    return bench_relocate(operand[0]);
}
