// The install flow, started by Ok on the path screen.
//
// The game's own set-up program on the CD always installs into the setup
// default directory. The flow checks the directory the user chose, finds the
// CD, starts the CD's setup.exe and, every 5 seconds while it runs and six
// times after it ended, moves what it finds in the setup default directory
// over to the chosen directory. It then records the installation, asks for a
// restart and ends the process.
#include "INSTALL.h"
#include "install_flow.h"

#include "WINUTILS.h"
#include "qbug.h"
#include "resource.h"
#include "walker.h"

#include <stdio.h>
#include <string.h>

#define INSTALL_WORKING_TEXT "Please Wait...This may take several minutes"
#define INSTALL_SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
#define INSTALL_GAME_PROGRAM "Tarn II.exe"
#define INSTALL_COPY_CHUNK (1024 * 1024)

static void set_working_text(const char* text) {
    SetDlgItemTextA(installer_state.main_dialog, IDC_WORKING_TEXT, text);
}

static void show_control(int id, bool shown) {
    ShowWindow(GetDlgItem(installer_state.main_dialog, id), shown ? SW_SHOW : SW_HIDE);
}

// The Windows directory into a 512-byte buffer; empty when it does not fit.
static void read_windows_directory(char* buffer) {
    UINT length = GetWindowsDirectoryA(buffer, INSTALL_PATH_SIZE);
    if (length == 0 || length >= INSTALL_PATH_SIZE) buffer[0] = '\0';
}

// The setup default directory: "<Program Files>\VKQ\Tarnholm Vesk", with a
// trailing backslash when with_separator. False when it does not fit.
static bool setup_default_directory(char* buffer, size_t size, bool with_separator) {
    return format_path(buffer, size, with_separator ? SETUP_DEFAULT_FORMAT "\\" : SETUP_DEFAULT_FORMAT,
                       installer_state.program_files_folder);
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
    if (type == DRIVE_CDROM || type == DRIVE_UNKNOWN || type == DRIVE_REMOVABLE || type == DRIVE_REMOTE) {
        MessageBoxA(NULL, "Drive selected is invalid. Please choose another install path.", "WARNING", MB_OK);
        return;
    }

    // The larger band of the Windows drive and the install drive counts.
    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory);
    int32_t band = free_space_band(windows_directory);
    int32_t install_band = free_space_band(target);
    if (install_band > band) band = install_band;
    if (band == 2) MessageBoxA(NULL, "Please only choose Minimum or Typical Install Options.", "WARNING", MB_OK);
    if (band == 3) MessageBoxA(NULL, "Please only choose Minimum Install Option.", "WARNING", MB_OK);

    // The root is "X:\", which always fits.
    format_path(installer_state.source_root, sizeof installer_state.source_root, "%s", find_source_medium());

    // The path screen becomes the working display.
    SetWindowTextA(installer_state.main_dialog, INSTALL_WINDOW_TITLE);
    show_control(IDC_OK, false);
    show_control(IDC_CANCEL, false);
    show_control(IDC_INSTALL_DIR, false);
    show_control(IDC_WORKING_TEXT, true);
    set_working_text(INSTALL_WORKING_TEXT);
    show_control(IDC_PATH_PROMPT, false);

    make_directory_path(target);
    run_setup_and_relocate(installer_state.source_root, target);
    set_working_text(INSTALL_WORKING_TEXT);

    ask_for_restart(target);
    ExitProcess(1);
}

void create_parent_directories(void) {
    const char* directory = installer_state.install_dir;
    if (directory[0] == '\0' || directory[1] != ':') return;
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), NULL, FALSE};
    char level[INSTALL_PATH_SIZE];
    bool passed_first = false;
    for (size_t i = 0; i < sizeof level && directory[i] != '\0'; i++) {
        if (directory[i] != '\\') continue;
        // The backslash after the drive names the root: nothing to create.
        if (!passed_first) {
            passed_first = true;
            continue;
        }
        memcpy(level, directory, i);
        level[i] = '\0';
        CreateDirectoryA(level, &attributes);
    }
}

#define INSTALL_SPECIAL_FOLDER_FORMAT \
    "This folder belongs to Windows or holds your own files:\n%s\nPlease choose a new folder for the game."
#define INSTALL_NOT_EMPTY_FORMAT \
    "This folder already holds files that are not the game's:\n%s\nPlease choose a new or empty folder for " \
    "the game."

bool validate_install_dir(void) {
    char normalised[INSTALL_PATH_SIZE];
    int32_t verdict = judge_directory(installer_state.install_dir, DIRECTORY_RULES_INSTALL, normalised,
                                      sizeof normalised);
    if (verdict == DIRECTORY_ACCEPTED) {
        memcpy(installer_state.install_dir, normalised, strlen(normalised) + 1);
        return true;
    }
    char text[INSTALL_PATH_SIZE + 128];
    char caption[INSTALL_PATH_SIZE];
    load_text(IDS_WARNING, caption, sizeof caption);
    if (verdict == DIRECTORY_SPECIAL)
        snprintf(text, sizeof text, INSTALL_SPECIAL_FOLDER_FORMAT, normalised);
    else if (verdict == DIRECTORY_NOT_EMPTY)
        snprintf(text, sizeof text, INSTALL_NOT_EMPTY_FORMAT, normalised);
    else
        load_text(IDS_NOT_VALID_DIRECTORY, text, sizeof text);
    MessageBoxA(installer_state.main_dialog, text, caption, MB_ICONINFORMATION | MB_OK);
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
             "You do not have enough space on your %c: drive. \nInstall requires a minimum of 650MB. ", path[0]);
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
    if (GetDiskFreeSpaceExA(root, &available, &total, &free_bytes)) return saturated_kib(available.QuadPart);
    DWORD sectors_per_cluster = 0;
    DWORD bytes_per_sector = 0;
    DWORD free_clusters = 0;
    DWORD clusters = 0;
    if (GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &clusters))
        return saturated_kib((uint64_t)free_clusters * sectors_per_cluster * bytes_per_sector);
    return 0;
}

static bool file_opens(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return false;
    fclose(file);
    return true;
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
                MessageBoxA(NULL, "Your version of Tarnholm does not require this patch. ", "WARNING", MB_OK);
                ExitProcess(1);
            }
            probe[3] = '\0';
            return probe;
        }
        int answer = MessageBoxA(NULL,
                                 "Could not find the original Tarnholm CD. Please insert Tarn Disk 1, wait a few "
                                 "seconds and then press OK to try again.",
                                 "WARNING", MB_OKCANCEL);
        if (answer != IDOK) ExitProcess(1);
    }
}

void make_directory_path(const char* path) {
    size_t length = strnlen(path, INSTALL_PATH_SIZE);
    if (length >= INSTALL_PATH_SIZE) return;
    int separators = 0;
    for (size_t i = 0; i < length; i++)
        if (path[i] == '\\' || path[i] == '/') separators++;
    // Every prefix that ends before a separator, except the drive's own.
    if (separators >= 2) {
        char level[INSTALL_PATH_SIZE];
        int seen = 0;
        for (size_t i = 0; i < length; i++) {
            if (path[i] != '\\' && path[i] != '/') continue;
            if (seen > 0 && seen < separators) {
                memcpy(level, path, i);
                level[i] = '\0';
                CreateDirectoryA(level, NULL);
            }
            seen++;
        }
    }
    CreateDirectoryA(path, NULL);
}

static void relocation_pass(const char* setup_default) {
    walk_tree("*.*", setup_default, relocate_entry, WALK_DESCEND);
    set_working_text(INSTALL_WORKING_TEXT);
}

void run_setup_and_relocate(const char* source_root, const char* target) {
    if (!format_path(installer_state.relocation_target, sizeof installer_state.relocation_target, "%s", target))
        return;
    char remembered[INSTALL_PATH_SIZE];
    DWORD remembered_length = GetCurrentDirectoryA(sizeof remembered, remembered);
    SetCurrentDirectoryA(source_root);

    // The CD's program by its full path: a bare "setup.exe" would be looked
    // for first in the installer's own directory.
    char command[INSTALL_PATH_SIZE + 16];
    PROCESS_RECORD setup;
    memset(&setup, 0, sizeof setup);
    if (format_path(command, sizeof command, "\"%ssetup.exe\"", source_root)) PROCESS_start(command, 0, &setup);

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

    register_installation(source_root, installer_state.relocation_target);
    repoint_uninstall_string();
    if (remembered_length > 0 && remembered_length < sizeof remembered) SetCurrentDirectoryA(remembered);
}

// A copy is written under this name beside its destination and renamed once
// it is whole. The name is fixed per file, so that the copy of a run killed
// in the middle is replaced by the next run's.
#define INSTALL_PARTIAL_SUFFIX ".partial"

// Copies the open file in to partial (replacing what an earlier run left
// there), with its times, and flushes it to the disk. False, with partial
// deleted again, when any step fails.
static bool copy_whole(HANDLE in, const BY_HANDLE_FILE_INFORMATION* information, const char* partial) {
    HANDLE out = CreateFileA(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (out == INVALID_HANDLE_VALUE) return false;
    static char chunk[INSTALL_COPY_CHUNK];
    bool copied = true;
    for (;;) {
        DWORD got = 0;
        DWORD written = 0;
        if (!ReadFile(in, chunk, sizeof chunk, &got, NULL)) {
            copied = false;
            break;
        }
        if (got == 0) break;
        if (!WriteFile(out, chunk, got, &written, NULL) || written != got) {
            copied = false;
            break;
        }
    }
    copied = copied &&
             SetFileTime(out, &information->ftCreationTime, &information->ftLastAccessTime,
                         &information->ftLastWriteTime) &&
             FlushFileBuffers(out);
    CloseHandle(out);
    if (!copied) DeleteFileA(partial);
    return copied;
}

// Moves one file from the setup default directory to destination, whole or
// not at all; a destination that exists is never touched. On the same drive
// the file is renamed, which the system refuses while the set-up program
// still holds it open. Across drives it is copied, and only when it can be
// opened without sharing, to a partial name that becomes the destination
// only when the copy is whole; the source goes after that. When the source
// cannot be deleted then, the copy goes again. Either way a file still being
// written stays for a later pass.
static void move_file(const char* source, const char* destination) {
    if (MoveFileExA(source, destination, 0)) return;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return;
    char partial[INSTALL_PATH_SIZE];
    if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES ||
        !format_path(partial, sizeof partial, "%s" INSTALL_PARTIAL_SUFFIX, destination))
        return;
    HANDLE in = CreateFileA(source, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION information;
    bool copied = GetFileInformationByHandle(in, &information) && copy_whole(in, &information, partial);
    CloseHandle(in);
    if (!copied) return;
    // Without MOVEFILE_REPLACE_EXISTING: a destination that appeared
    // meanwhile stays, and so does the source.
    if (!MoveFileExA(partial, destination, 0)) {
        DeleteFileA(partial);
        return;
    }
    SetFileAttributesA(source, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(source)) {
        DeleteFileA(destination);
        SetFileAttributesA(source, information.dwFileAttributes);
        return;
    }
    if (information.dwFileAttributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(destination, information.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
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
    if (!format_path(destination, sizeof destination, "%s\\%s", installer_state.relocation_target, relative))
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
    if (!setup_default_directory(setup_default, sizeof setup_default, false) || lstrcmpiA(setup_default, target) == 0)
        return 0;
    leftover_files = 0;
    walk_tree("*.*", setup_default, count_leftover, WALK_DESCEND);
    return leftover_files;
}

void register_installation(const char* source_root, const char* target) {
    bool have_programs = read_programs_folder() || installer_state.programs_folder[0] != '\0';
    WINUTILS_set_registry_entry(2, INSTALL_PRODUCT_KEY, "InstallDir", target, NULL);
    WINUTILS_set_registry_entry(2, INSTALL_PRODUCT_KEY, "InstallSource", source_root, NULL);

    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory);
    char uninstaller[INSTALL_PATH_SIZE];
    char game[INSTALL_PATH_SIZE];
    char link[INSTALL_PATH_SIZE];
    bool have_uninstaller = format_path(uninstaller, sizeof uninstaller, "%s\\%s remove.exe", windows_directory,
                                        installer_state.product_name);
    bool have_game = format_path(game, sizeof game, "%s\\%s", target, INSTALL_GAME_PROGRAM);

    // Without a Programs folder these would land relative to the current drive.
    if (have_programs && have_uninstaller &&
        format_path(link, sizeof link, "%s\\Tarnholm Vesk\\Uninstall Tarnholm Vesk.lnk",
                    installer_state.programs_folder))
        WINUTILS_create_file_link(uninstaller, link, "Uninstall Tarnholm Vesk", windows_directory, "remove");
    if (have_programs && have_game &&
        format_path(link, sizeof link, "%s\\Tarnholm Vesk\\Tarnholm Vesk.lnk", installer_state.programs_folder))
        WINUTILS_create_file_link(game, link, "Tarnholm Vesk", target, "");

    // The desktop link is rewritten only when the user has one.
    if (have_game && format_path(link, sizeof link, "%s\\Tarnholm Vesk.lnk", installer_state.desktop_folder) &&
        file_opens(link))
        WINUTILS_create_file_link(game, link, "Tarnholm Vesk", target, "");
}

// "X:\..." or "\\server\share\...".
static bool is_absolute_path(const char* path) {
    bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (letter && path[1] == ':' && path[2] == '\\') return true;
    if (path[0] != '\\' || path[1] != '\\') return false;
    const char* server = path + 2;
    size_t server_length = strcspn(server, "\\");
    if (server_length == 0 || server[server_length] != '\\') return false;
    const char* share = server + server_length + 1;
    size_t share_length = strcspn(share, "\\");
    return share_length > 0;
}

bool read_programs_folder(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, INSTALL_SHELL_FOLDERS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char folder[INSTALL_PATH_SIZE];
    DWORD type = 0;
    DWORD size = sizeof folder;
    LONG result = RegQueryValueExA(key, "Programs", NULL, &type, (BYTE*)folder, &size);
    RegCloseKey(key);
    // Only a whole, terminated string is taken, and only an absolute path:
    // an empty or relative one would put the game's Start-menu folder below
    // the current drive or directory.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 ||
        memchr(folder, '\0', size) == NULL || !is_absolute_path(folder))
        return false;
    memcpy(installer_state.programs_folder, folder, strlen(folder) + 1);
    return true;
}
