// The install flow, started by Ok on the path screen.
//
// The game's own set-up program on the CD always installs into the setup
// default directory. The flow checks the directory the user chose, finds the
// CD, starts the CD's setup.exe and, every 5 seconds while it runs and six
// times after it ended, moves what it finds in the setup default directory
// over to the chosen directory. It then records the installation, asks for a
// restart and ends the process.
#include "install_flow.h"

#include "WINUTILS.h"
#include "directory_policy.h"
#include "file_mover.h"
#include "installer.h"
#include "panel.h"
#include "product.h"
#include "qbug.h"
#include "registration.h"
#include "resource.h"
#include "walker.h"

#include <stdio.h>
#include <string.h>

#define INSTALL_WORKING_TEXT "Please Wait...This may take several minutes"

static void show_control(int id, bool shown) {
    ShowWindow(GetDlgItem(installer_state.main_dialog, id), shown ? SW_SHOW : SW_HIDE);
}

// The restart request, or, when files are still in the setup default
// directory, how many and where.
static void ask_for_restart(const char* target) {
    uint32_t left = count_leftover_files(target);
    char setup_default[INSTALL_PATH_SIZE];
    char text[INSTALL_PATH_SIZE + 160];
    if (left > 0 && setup_default_directory(setup_default, sizeof setup_default, false)) {
        snprintf(text, sizeof text,
                 "%lu files could not be moved into the game's folder and are still in:\n%s\n"
                 "Please restart your machine.",
                 (unsigned long)left, setup_default);
        MessageBoxA(NULL, text, "IMPORTANT", MB_OK);
        return;
    }
    MessageBoxA(NULL, "Please restart your machine.", "IMPORTANT", MB_OK);
}

void run_install(void) {
    create_parent_directories();
    if (!validate_install_dir()) return;
    // The validated directory, in its normalised form. From here on only this
    // copy counts: the panel stays live under the flow's boxes without owner.
    char target[INSTALL_PATH_SIZE];
    memcpy(target, installer_state.install_dir, strlen(installer_state.install_dir) + 1);

    char root[4] = {target[0], target[1], target[2], '\0'};
    UINT type = GetDriveTypeA(root);
    if (type == DRIVE_CDROM || type == DRIVE_UNKNOWN || type == DRIVE_REMOVABLE ||
        type == DRIVE_REMOTE) {
        MessageBoxA(NULL, "Drive selected is invalid. Please choose another install path.",
                    "WARNING", MB_OK);
        return;
    }

    // The larger band of the Windows drive and the install drive counts.
    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory, sizeof windows_directory);
    int32_t band = free_space_band(windows_directory);
    int32_t install_band = free_space_band(target);
    if (install_band > band) band = install_band;
    if (band == 2)
        MessageBoxA(NULL, "Please only choose Minimum or Typical Install Options.", "WARNING",
                    MB_OK);
    if (band == 3)
        MessageBoxA(NULL, "Please only choose Minimum Install Option.", "WARNING", MB_OK);

    // The root is "X:\", which always fits.
    format_path(installer_state.source_root, sizeof installer_state.source_root, "%s",
                find_source_medium());

    // The path screen becomes the working display. The title is set again
    // on purpose, although start-up set the same one.
    SetWindowTextA(installer_state.main_dialog, PRODUCT_WINDOW_TITLE);
    show_control(IDC_OK, false);
    show_control(IDC_CANCEL, false);
    show_control(IDC_INSTALL_DIR, false);
    show_control(IDC_WORKING_TEXT, true);
    set_working_text(INSTALL_WORKING_TEXT);
    show_control(IDC_PATH_PROMPT, false);

    make_directory_path(target);
    run_setup_and_relocate(installer_state.source_root, target);
    // Once more on purpose, although the last pass left the same text.
    set_working_text(INSTALL_WORKING_TEXT);

    ask_for_restart(target);
    ExitProcess(1);
}

// Creates the directory named by every part of path that ends before one of
// separators, except the first (the drive's root); failures are ignored. A
// path too long for the install directory's field creates nothing.
static void create_directory_levels(const char* path, const char* separators) {
    size_t length = strnlen(path, INSTALL_PATH_SIZE);
    if (length >= INSTALL_PATH_SIZE) return;
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), NULL, FALSE};
    char level[INSTALL_PATH_SIZE];
    bool passed_first = false;
    for (size_t i = 0; i < length; i++) {
        if (strchr(separators, path[i]) == NULL) continue;
        if (!passed_first) {
            passed_first = true;
            continue;
        }
        memcpy(level, path, i);
        level[i] = '\0';
        CreateDirectoryA(level, &attributes);
    }
}

void create_parent_directories(void) {
    const char* directory = installer_state.install_dir;
    if (directory[0] == '\0' || directory[1] != ':') return;
    create_directory_levels(directory, "\\");
}

#define INSTALL_SPECIAL_FOLDER_FORMAT                               \
    "This folder belongs to Windows or holds your own files:\n%s\n" \
    "Please choose a new folder for the game."
#define INSTALL_NOT_EMPTY_FORMAT                                     \
    "This folder already holds files that are not the game's:\n%s\n" \
    "Please choose a new or empty folder for the game."

bool validate_install_dir(void) {
    char normalised[INSTALL_PATH_SIZE];
    int32_t verdict = judge_directory(installer_state.install_dir, DIRECTORY_RULES_INSTALL,
                                      normalised, sizeof normalised);
    if (verdict == DIRECTORY_ACCEPTED) {
        memcpy(installer_state.install_dir, normalised, strlen(normalised) + 1);
        return true;
    }
    char text[INSTALL_PATH_SIZE + 128];
    if (verdict == DIRECTORY_SPECIAL)
        snprintf(text, sizeof text, INSTALL_SPECIAL_FOLDER_FORMAT, normalised);
    else if (verdict == DIRECTORY_NOT_EMPTY)
        snprintf(text, sizeof text, INSTALL_NOT_EMPTY_FORMAT, normalised);
    else
        load_text(IDS_NOT_VALID_DIRECTORY, text, sizeof text);
    show_box(text, IDS_WARNING, MB_ICONINFORMATION | MB_OK);
    return false;
}

int32_t free_space_band(const char* path) {
    char root[4] = {'\0', '\0', '\0', '\0'};
    for (int i = 0; i < 3 && path[i] != '\0'; i++) root[i] = path[i];
    uint32_t kib = free_space_kib(root);
    if (kib == 0) {
        MessageBoxA(NULL, "GetDiskFreeSpaceEx failed", "ERROR", MB_OK);
    } else if (kib > INSTALL_BAND3_KIB) {
        if (kib > INSTALL_BAND1_KIB) return 1;
        return kib > INSTALL_BAND2_KIB ? 2 : 3;
    }
    char text[128];
    snprintf(text, sizeof text,
             "You do not have enough space on your %c: drive. \n"
             "Install requires a minimum of 650MB. ",
             path[0]);
    MessageBoxA(NULL, text, "WARNING.", MB_OK);
    ExitProcess(1);
}

// KiB in 32 bits, saturated: 4 TiB free must not wrap into "too little".
static uint32_t saturated_kib(uint64_t bytes) {
    uint64_t kib = bytes >> 10;
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)kib;
}

uint32_t free_space_kib(const char* root) {
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    ULARGE_INTEGER free_bytes;
    if (GetDiskFreeSpaceExA(root, &available, &total, &free_bytes))
        return saturated_kib(available.QuadPart);
    DWORD sectors_per_cluster = 0;
    DWORD bytes_per_sector = 0;
    DWORD free_clusters = 0;
    DWORD clusters = 0;
    if (GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &clusters))
        return saturated_kib((uint64_t)free_clusters * sectors_per_cluster * bytes_per_sector);
    return 0;
}

const char* find_source_medium(void) {
    char* probe = installer_state.medium_probe_path;
    size_t size = sizeof installer_state.medium_probe_path;
    for (;;) {
        for (char letter = 'A'; letter <= 'Z'; letter++) {
            if (!(drive_class(letter) & DRIVE_CLASS_CDROM)) continue;
            snprintf(probe, size, "%c:\\tnh2main.exe", letter);
            if (!file_opens(probe)) continue;
            snprintf(probe, size, "%c:\\fennies.ptc", letter);
            if (file_opens(probe)) {
                MessageBoxA(NULL, "Your version of Tarnholm does not require this patch. ",
                            "WARNING", MB_OK);
                ExitProcess(1);
            }
            probe[3] = '\0';
            return probe;
        }
        int answer = MessageBoxA(NULL,
                                 "Could not find the original Tarnholm CD. Please insert Tarn "
                                 "Disk 1, wait a few seconds and then press OK to try again.",
                                 "WARNING", MB_OKCANCEL);
        if (answer != IDOK) ExitProcess(1);
    }
}

void make_directory_path(const char* path) {
    if (strnlen(path, INSTALL_PATH_SIZE) >= INSTALL_PATH_SIZE) return;
    create_directory_levels(path, "\\/");
    CreateDirectoryA(path, NULL);
}

static void relocation_pass(const char* setup_default) {
    start_move_pass();
    walk_tree("*.*", setup_default, relocate_entry, WALK_DESCEND);
    set_working_text(INSTALL_WORKING_TEXT);
}

void run_setup_and_relocate(const char* source_root, const char* target) {
    if (!format_path(installer_state.relocation_target, sizeof installer_state.relocation_target,
                     "%s", target))
        return;
    char remembered[INSTALL_PATH_SIZE];
    DWORD remembered_length = GetCurrentDirectoryA(sizeof remembered, remembered);
    SetCurrentDirectoryA(source_root);

    // The CD's program by its full path: a bare "setup.exe" would be looked
    // for first in the installer's own directory.
    char command[INSTALL_PATH_SIZE + 16];
    PROCESS_RECORD setup;
    memset(&setup, 0, sizeof setup);
    if (format_path(command, sizeof command, "\"%ssetup.exe\"", source_root))
        PROCESS_start(command, 0, &setup);

    char setup_default[INSTALL_PATH_SIZE];
    bool have_default = setup_default_directory(setup_default, sizeof setup_default, false);
    while (PROCESS_is_running(&setup)) {
        Sleep(INSTALL_POLL_MS);
        installer_state.relocation_final_pass = false;
        if (have_default) relocation_pass(setup_default);
        repoint_uninstall_string();
        register_installation(source_root, installer_state.relocation_target);
    }
    if (setup.information.hProcess != NULL) CloseHandle(setup.information.hProcess);
    if (setup.information.hThread != NULL) CloseHandle(setup.information.hThread);

    // Each final pass also removes the directories that were empty when the
    // walk reached them: an emptied tree goes one level per pass.
    installer_state.relocation_final_pass = true;
    for (int pass = 0; pass < INSTALL_FINAL_PASSES; pass++)
        if (have_default) relocation_pass(setup_default);
    if (have_default) RemoveDirectoryA(setup_default);

    // Written again after the polling cycles on purpose: a set-up program
    // that ended before the first cycle left nothing written yet.
    register_installation(source_root, installer_state.relocation_target);
    repoint_uninstall_string();
    if (remembered_length > 0 && remembered_length < sizeof remembered)
        SetCurrentDirectoryA(remembered);
}

static bool ends_with_rra(const char* path) {
    size_t length = strlen(path);
    return length >= 3 && _strnicmp(path + length - 3, "rra", 3) == 0;
}

void relocate_entry(const char* path, int32_t kind) {
    // Every call counts, ticks included; the count lives for the process.
    if (installer_state.relocation_calls % 16 == 0) WINUTILS_process_messages();
    if (installer_state.relocation_calls % 256 == 0) repoint_uninstall_string();
    installer_state.relocation_calls++;
    if (path == NULL || (kind != WALK_FILE && kind != WALK_DIRECTORY)) return;

    // Only entries below the setup default directory are moved.
    char prefix[INSTALL_PATH_SIZE];
    if (!setup_default_directory(prefix, sizeof prefix, true)) return;
    size_t prefix_length = strlen(prefix);
    if (strncmp(path, prefix, prefix_length) != 0) return;
    const char* relative = path + prefix_length;

    // A destination that does not fit is refused: the entry stays.
    char destination[INSTALL_PATH_SIZE];
    if (!format_path(destination, sizeof destination, "%s\\%s", installer_state.relocation_target,
                     relative))
        return;
    if (kind == WALK_DIRECTORY) {
        CreateDirectoryA(destination, NULL);
        if (installer_state.relocation_final_pass) RemoveDirectoryA(path);
        return;
    }
    if (ends_with_rra(path)) return;
    char status[INSTALL_PATH_SIZE];
    snprintf(status, sizeof status, "Processing %s", relative);  // display only: may be cut
    set_working_text(status);
    move_file(path, destination);
}

static uint32_t leftover_files;

static void count_leftover(const char* path, int32_t kind) {
    if (kind == WALK_FILE && path != NULL && !ends_with_rra(path)) leftover_files++;
}

uint32_t count_leftover_files(const char* target) {
    char setup_default[INSTALL_PATH_SIZE];
    if (!setup_default_directory(setup_default, sizeof setup_default, false) ||
        lstrcmpiA(setup_default, target) == 0)
        return 0;
    leftover_files = 0;
    walk_tree("*.*", setup_default, count_leftover, WALK_DESCEND);
    return leftover_files;
}
