// screens: walks the installer through its start screens and the path screen
// and saves a picture of each, for the run command on a machine without a
// display.
//
//   screens.exe OUTPUT_FOLDER
//
// Writes 1-not-installed.bmp, 2-path.bmp, 3-installed.bmp, 4-remove.bmp.
// Leaves the machine as clean as it found it. Exit status 0 when every
// picture was saved.
#include "driver.h"
#include "footprint.h"

#include <stdio.h>
#include <string.h>

#define IDC_INSTALL_REMOVE 1002
#define IDC_PATH_PROMPT    1009

static bool wait_for_text(HWND panel, int id, const char* text) {
    char current[512] = "";
    for (int tries = 0; tries < 200; tries++) {
        if (DRIVER_control_text(panel, id, current, sizeof current) && strcmp(current, text) == 0)
            return true;
        Sleep(50);
    }
    fprintf(stderr, "screens: control %d shows \"%s\", not \"%s\"\n", id, current, text);
    return false;
}

static bool save(HWND panel, const char* folder, const char* name) {
    Sleep(700);  // let every control finish painting
    DRIVER_IMAGE image;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\%s.bmp", folder, name);
    bool saved = DRIVER_capture(panel, true, &image) && DRIVER_save_bmp(&image, path);
    DRIVER_free_image(&image);
    printf("screens: %s %s\n", saved ? "saved" : "could not save", path);
    return saved;
}

// Starts the installer, waits for the screen whose Install/Remove button
// reads button_text, saves it, optionally opens the path screen and saves
// that too, and ends the installer.
static bool walk(const char* arguments, const char* button_text, const char* folder,
                 const char* name, const char* path_name) {
    DRIVER_PROCESS installer;
    if (!DRIVER_start(DRIVER_INSTALLER, arguments, DRIVER_PATCH_FOLDER, &installer)) {
        fprintf(stderr, "screens: cannot start %s\n", DRIVER_INSTALLER);
        return false;
    }
    HWND panel = DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE,
                                    DRIVER_TIMEOUT_MS);
    bool ok = panel != NULL && wait_for_text(panel, IDC_INSTALL_REMOVE, button_text) &&
              save(panel, folder, name);
    if (ok && path_name != NULL) {
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        ok = wait_for_text(panel, IDC_PATH_PROMPT, "Please type in your Install Directory") &&
             save(panel, folder, path_name);
    }
    if (panel != NULL) PostMessageA(panel, WM_CLOSE, 0, 0);
    DRIVER_wait_exit(&installer, DRIVER_TIMEOUT_MS, NULL);
    DRIVER_stop(&installer);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: screens OUTPUT_FOLDER\n");
        return 2;
    }
    const char* folder = argv[1];
    CreateDirectoryA(folder, NULL);
    FOOTPRINT_reset();
    bool ok = walk(NULL, "Install Tarnholm", folder, "1-not-installed", "2-path");
    FOOTPRINT_reset();
    ok = FOOTPRINT_set_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR, "C:\\Games\\Tarnholm Vesk") &&
         walk(NULL, "Remove Tarnholm", folder, "3-installed", NULL) && ok;
    FOOTPRINT_reset();
    ok = walk("remove", "Remove Tarnholm", folder, "4-remove", NULL) && ok;
    FOOTPRINT_reset();
    return ok ? 0 : 1;
}
