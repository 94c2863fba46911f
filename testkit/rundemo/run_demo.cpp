// Plays the user of a whole install for the demo: starts the installer of the
// patch folder, presses Install, keeps the suggested directory, presses Ok,
// answers every message box with OK and saves a picture of each screen and
// box into the current directory ("01-start.bmp", ...). Prints one line per
// step; exits 0 when the installer ended after "Please restart your machine."
//
//   run_demo.exe [INSTALL_DIRECTORY]
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "driver.h"
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

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
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
    bool working_seen = false;
    bool restart = false;
    for (int waited = 0; waited < 300000 && DRIVER_is_running(&installer); waited += 100) {
        HWND box = DRIVER_wait_message_box(id, 100);
        if (box != NULL) {
            char text[512] = "";
            char caption[128] = "";
            DRIVER_message_box_text(box, text, sizeof text);
            DRIVER_window_title(box, caption, sizeof caption);
            printf("message box: %s / %s\n", caption, text);
            picture(box, true, "box");
            if (strcmp(text, "Please restart your machine.") == 0) restart = true;
            DRIVER_answer(box, IDOK);
            for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(20);
            continue;
        }
        if (!working_seen && DRIVER_is_shown(panel, IDC_WORKING_TEXT)) {
            working_seen = true;
            Sleep(1000);
            picture(panel, true, "working");
        }
    }
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
