// Plays the user of a whole install for the demo: starts the installer of the
// patch folder, presses Install, keeps the suggested directory, presses Ok,
// answers every message box with OK and saves a picture of each screen and
// box into the current directory ("01-start.bmp", ...). Prints one line per
// step; exits 0 when the installer ended after "Please restart your machine."
// With --uninstall it plays the user of the uninstall instead: starts the
// uninstaller copy as the uninstall entry does, presses Remove, answers Yes
// to every question and OK to the rest; exits 0 after "Uninstall complete".
//
// With --reset it clears the game's traces from the machine first (the test
// kit's guarded footprint reset, and the directories a demo installed into);
// with --landed it prints what an install left: the registry values, the
// links ("link: PATH", which the run command shows with the host's lnkinfo),
// the install directory and the setup default directory ("files: PATH").
//
//   run_demo.exe [INSTALL_DIRECTORY]
//   run_demo.exe --uninstall [--by-hand] | --reset | --landed
// (--by-hand: start the uninstaller copy and leave its window to the user)
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "driver.h"
#include "footprint.h"
#include "resource.h"

static int g_picture;

static void picture(HWND window, bool with_frame, const char* name) {
    DRIVER_IMAGE image;
    char path[64];
    snprintf(path, sizeof path, "%02d-%s.bmp", ++g_picture, name);
    if (DRIVER_capture(window, with_frame, &image)) {
        DRIVER_save_bmp(&image, path);
        DRIVER_free_image(&image);
        printf("screen: %s\n", path);
    }
}

// Answers the boxes of process until it ends: Yes where a box asks, OK
// elsewhere. True when a box showed expected.
static bool answer_until_exit(DRIVER_PROCESS* process, HWND panel, const char* expected) {
    bool seen = false;
    bool working_seen = false;
    for (int waited = 0; waited < 300000 && DRIVER_is_running(process); waited += 100) {
        HWND box = DRIVER_wait_message_box(process->information.dwProcessId, 100);
        if (box != NULL) {
            char text[512] = "";
            char caption[128] = "";
            DRIVER_message_box_text(box, text, sizeof text);
            DRIVER_window_title(box, caption, sizeof caption);
            printf("message box: %s / %s\n", caption, text);
            picture(box, true, "box");
            if (strcmp(text, expected) == 0) seen = true;
            DRIVER_answer(box, GetDlgItem(box, IDYES) != NULL ? IDYES : IDOK);
            continue;
        }
        if (!working_seen && IsWindow(panel) && DRIVER_is_shown(panel, IDC_WORKING_TEXT)) {
            working_seen = true;
            Sleep(1000);
            picture(panel, true, "working");
        }
    }
    return seen;
}

static int uninstall(bool by_hand) {
    char windows[MAX_PATH];
    char program[MAX_PATH + 32];
    GetWindowsDirectoryA(windows, sizeof windows);
    snprintf(program, sizeof program, "%s\\" FOOTPRINT_PRODUCT " remove.exe", windows);
    DRIVER_PROCESS uninstaller;
    if (!DRIVER_start(program, "remove", windows, &uninstaller)) {
        printf("error: cannot start %s; install first\n", program);
        return 1;
    }
    HWND panel = DRIVER_wait_window(uninstaller.information.dwProcessId, DRIVER_PANEL_TITLE, DRIVER_TIMEOUT_MS);
    if (panel == NULL) {
        printf("error: no panel\n");
        DRIVER_stop(&uninstaller);
        return 1;
    }
    if (by_hand) {
        // The window is the user's: wait until they are done with it.
        uint32_t status = 0;
        while (!DRIVER_wait_exit(&uninstaller, 60000, &status)) {
        }
        printf("uninstaller ended with status %u\n", (unsigned)status);
        DRIVER_stop(&uninstaller);
        return 0;
    }
    Sleep(500);
    picture(panel, true, "remove");
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    bool complete = answer_until_exit(&uninstaller, panel, "Uninstall complete");
    uint32_t status = 0;
    bool ended = DRIVER_wait_exit(&uninstaller, 5000, &status);
    DRIVER_stop(&uninstaller);
    if (!ended) {
        printf("error: the uninstaller is still running\n");
        return 1;
    }
    printf("uninstaller ended with status %u\n", (unsigned)status);
    return complete ? 0 : 1;
}

// The directory the path screen suggests: "<Program Files>\Tarnholm".
static bool suggested_directory(char* path) {
    char base[MAX_PATH];
    return FOOTPRINT_folder(CSIDL_PROGRAM_FILES, base) && snprintf(path, MAX_PATH, "%s\\Tarnholm", base) < MAX_PATH;
}

static int reset(void) {
    char directory[MAX_PATH];
    bool ok = true;
    // The registered directory of an earlier demo, then its usual place.
    if (FOOTPRINT_get_value(FOOTPRINT_PRODUCT_KEY, "InstallDir", directory, sizeof directory))
        ok = FOOTPRINT_delete_tree(directory) && ok;
    if (suggested_directory(directory)) ok = FOOTPRINT_delete_tree(directory) && ok;
    ok = FOOTPRINT_reset() && ok;
    printf("reset: %s\n", ok ? "the game's traces are gone" : "some traces stayed");
    return ok ? 0 : 1;
}

static void print_value(const char* key, const char* name) {
    char value[1024];
    if (FOOTPRINT_get_value(key, name, value, sizeof value)) printf("    %s = %s\n", name, value);
}

static void print_link(const char* folder_path, const char* name) {
    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, "%s\\%s", folder_path, name);
    if (FOOTPRINT_file_exists(path)) printf("link: %s\n", path);
}

static int landed(void) {
    printf("== registry: HKLM\\%s\n", FOOTPRINT_PRODUCT_KEY);
    print_value(FOOTPRINT_PRODUCT_KEY, "InstallDir");
    print_value(FOOTPRINT_PRODUCT_KEY, "InstallSource");
    printf("== registry: the uninstall entry\n");
    print_value(FOOTPRINT_UNINSTALL_KEY, "UninstallString");
    char folder[MAX_PATH];
    if (FOOTPRINT_folder(CSIDL_PROGRAMS, folder)) {
        print_link(folder, FOOTPRINT_PRODUCT "\\" FOOTPRINT_PRODUCT ".lnk");
        print_link(folder, FOOTPRINT_PRODUCT "\\Uninstall " FOOTPRINT_PRODUCT ".lnk");
    }
    if (FOOTPRINT_folder(CSIDL_DESKTOPDIRECTORY, folder)) print_link(folder, FOOTPRINT_PRODUCT ".lnk");
    char directory[MAX_PATH];
    if (FOOTPRINT_get_value(FOOTPRINT_PRODUCT_KEY, "InstallDir", directory, sizeof directory))
        printf("files: %s\n", directory);
    if (FOOTPRINT_setup_default_directory(directory)) printf("left: %s\n", directory);
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc > 1 && strcmp(argv[1], "--uninstall") == 0)
        return uninstall(argc > 2 && strcmp(argv[2], "--by-hand") == 0);
    if (argc > 1 && strcmp(argv[1], "--reset") == 0) return reset();
    if (argc > 1 && strcmp(argv[1], "--landed") == 0) return landed();
    DRIVER_PROCESS installer;
    if (!DRIVER_start(DRIVER_INSTALLER, NULL, DRIVER_PATCH_FOLDER, &installer)) {
        printf("error: cannot start %s\n", DRIVER_INSTALLER);
        return 1;
    }
    DWORD id = installer.information.dwProcessId;
    HWND panel = DRIVER_wait_window(id, DRIVER_PANEL_TITLE, DRIVER_TIMEOUT_MS);
    if (panel == NULL) {
        printf("error: no panel\n");
        DRIVER_stop(&installer);
        return 1;
    }
    Sleep(500);
    picture(panel, true, "start");
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    for (int i = 0; i < 200 && !DRIVER_is_shown(panel, IDC_INSTALL_DIR); i++) Sleep(25);
    if (argc > 1) DRIVER_set_text(panel, IDC_INSTALL_DIR, argv[1]);
    DRIVER_settle(panel);
    char directory[512] = "";
    DRIVER_control_text(panel, IDC_INSTALL_DIR, directory, sizeof directory);
    printf("install directory: %s\n", directory);
    Sleep(300);
    picture(panel, true, "path");
    DRIVER_click(panel, IDC_OK);

    // Boxes (warnings, the restart request) until the installer ends.
    bool restart = answer_until_exit(&installer, panel, "Please restart your machine.");
    uint32_t status = 0;
    if (!DRIVER_wait_exit(&installer, 5000, &status)) {
        printf("error: the installer is still running\n");
        DRIVER_stop(&installer);
        return 1;
    }
    printf("installer ended with status %u\n", (unsigned)status);
    DRIVER_stop(&installer);
    return restart ? 0 : 1;
}
