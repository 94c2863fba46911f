// The remove flow, started by Remove on the installed or remove screen.
//
// After a confirmation it runs the built-in remove script against the
// installation directory and the game's Start-menu folder, then deletes the
// product key and the uninstall entry. The script deletes only below the
// directories it is given, so the flow gives it none that could hold more
// than the game: an installation directory that the directory policy
// refuses (a drive root, the Windows directory, a special folder or one
// above it, in any spelling) stops the flow before anything is deleted, and
// an unknown Start-menu folder is left out of the run.
#include "remove_flow.h"

#include "COPYFLST.h"
#include "WINUTILS.h"
#include "directory_policy.h"
#include "installer.h"
#include "panel.h"
#include "product.h"
#include "registration.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#define REMOVE_REFUSED_FORMAT                                                      \
    "The game cannot be removed from \"%s\": that is not a directory of its own. " \
    "Nothing was removed."

// The game's Start-menu folder ("<Programs>\<product>") in programs_folder,
// or NULL when the Programs folder cannot be read or the folder does not
// fit: the script then leaves the Start menu alone.
static const char* game_start_menu_folder(const char* key_error) {
    if (!read_programs_folder()) {
        installer_state.programs_folder[0] = '\0';
        char text[INSTALL_PATH_SIZE + 2];
        snprintf(text, sizeof text, "%s!1", key_error);
        show_box(text, IDS_ERROR, MB_OK);
        return NULL;
    }
    char folder[INSTALL_PATH_SIZE];
    if (installer_state.product_name[0] == '\0' ||
        !format_path(folder, sizeof folder, "%s\\%s", installer_state.programs_folder,
                     installer_state.product_name)) {
        installer_state.programs_folder[0] = '\0';
        return NULL;
    }
    memcpy(installer_state.programs_folder, folder, strlen(folder) + 1);
    return installer_state.programs_folder;
}

#define REMOVE_FAILED_FORMAT                                                                    \
    "%lu files of the game could not be removed, among them:\n%s\nClose the program that uses " \
    "them and run the uninstall again."
#define REMOVE_FAILED_TEXT_SIZE 1400  // the format, a count and a walker path (under 1024)

// Tells the user, when the script meant to delete files and could not (a
// file in use, a name too long for the ANSI calls, a link it must leave), how
// many and the first of them. True when there were such files: the keys then
// stay, so that the uninstall can run again. What the user kept by answering
// No is not among them.
static bool report_failed_deletions(void) {
    const char* first = NULL;
    uint32_t failed = script_failed_deletions(&first);
    if (failed == 0) return false;
    char text[REMOVE_FAILED_TEXT_SIZE];
    snprintf(text, sizeof text, REMOVE_FAILED_FORMAT, (unsigned long)failed, first);
    show_box(text, IDS_ERROR, MB_OK);
    return true;
}

void remove_installation(void) {
    if (show_text_box(IDS_ARE_YOU_SURE, IDS_QUESTION, MB_YESNO | MB_ICONQUESTION) != IDYES) return;

    // Judged by what it names; the script then runs on that same form.
    char normalised[INSTALL_PATH_SIZE];
    if (judge_directory(installer_state.install_dir, DIRECTORY_RULES_REMOVE, normalised,
                        sizeof normalised) != DIRECTORY_ACCEPTED) {
        char text[INSTALL_PATH_SIZE + sizeof REMOVE_REFUSED_FORMAT];
        snprintf(text, sizeof text, REMOVE_REFUSED_FORMAT, installer_state.install_dir);
        show_box(text, IDS_ERROR, MB_OK | MB_ICONSTOP);
        return;
    }
    memcpy(installer_state.install_dir, normalised, strlen(normalised) + 1);

    char removing[INSTALL_PATH_SIZE];
    char key_error[INSTALL_PATH_SIZE];
    load_text(IDS_REMOVING, removing, sizeof removing);
    load_text(IDS_ERROR_OPENING_KEY, key_error, sizeof key_error);

    show_working_screen();
    set_working_text(removing);

    const char* start_menu = game_start_menu_folder(key_error);

    // Ten units a record; every record steps the bar by its default 10.
    HWND bar = GetDlgItem(installer_state.main_dialog, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 10 * count_script_records(remove_script)));
    SendMessageA(bar, PBM_SETPOS, 0, 0);

    if (!run_script(remove_script, NULL, installer_state.install_dir, start_menu, 0, 0)) {
        show_installed_screen();
        return;
    }
    if (report_failed_deletions()) {
        // In remove mode the panel ends the program all the same.
        if (!installer_state.remove_mode) show_installed_screen();
        return;
    }

    WINUTILS_clear_registry_entry(2, PRODUCT_KEY_PARENT, PRODUCT_KEY_SUBKEY, NULL);
    WINUTILS_clear_registry_entry(2, PRODUCT_UNINSTALL_PARENT, PRODUCT_UNINSTALL_SUBKEY, NULL);
    show_text_box(IDS_UNINSTALL_COMPLETE, IDS_INFORMATION, MB_OK);

    // In remove mode the panel ends the program through the main loop.
    if (!installer_state.remove_mode) ExitProcess(1);
}
