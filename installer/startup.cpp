// Start-up and main loop of the installer: single instance, the shell
// folders, the search for an existing installation, the uninstaller copy and
// the DirectX library copies, the start screen and the message loop. Also
// the small helpers the other parts share (load_text, update_status, ...).
#include "INSTALL.h"
#include "WINUTILS.h"
#include "directory_policy.h"
#include "folder_service.h"
#include "memory.h"
#include "resource.h"

#include <commctrl.h>
#include <locale.h>
#include <ole2.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

InstallerState installer_state;

#define FOLDER_FLAG_CREATE 0x8000      // CSIDL_FLAG_CREATE
#define FOLDER_PROGRAM_FILES 0x0026    // CSIDL_PROGRAM_FILES
#define FOLDER_DESKTOP 0x0000          // CSIDL_DESKTOP

bool load_text(uint32_t id, char* buffer, int32_t size) {
    if (buffer == NULL || size <= 0) return false;
    buffer[0] = '\0';
    // The product name is read before the instance handle is stored.
    HINSTANCE module = installer_state.instance ? installer_state.instance : GetModuleHandleA(NULL);
    return LoadStringA(module, id + installer_state.language_offset, buffer, size) > 0;
}

void update_status(const char* text) {
    HWND panel = installer_state.main_dialog;
    if (text == NULL) SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_STEPIT, 0, 0);
    MSG* message = &installer_state.shared_message;
    // A quit message taken here is swallowed: long work goes on to its end.
    while (PeekMessageA(message, NULL, 0, 0, PM_NOREMOVE)) {
        if (GetMessageA(message, NULL, 0, 0) <= 0) break;
        TranslateMessage(message);
        DispatchMessageA(message);
    }
    if (text != NULL) SendDlgItemMessageA(panel, IDC_STATUS, WM_SETTEXT, 0, (LPARAM)text);
}

void repoint_uninstall_string(void) {
    char windows_directory[INSTALL_PATH_SIZE];
    UINT length = GetWindowsDirectoryA(windows_directory, sizeof windows_directory);
    if (length == 0 || length >= sizeof windows_directory) windows_directory[0] = '\0';
    if (!format_path(installer_state.uninstaller_path, sizeof installer_state.uninstaller_path,
                     "%s\\%s remove.exe", windows_directory, installer_state.product_name))
        return;
    // Quoted: the path has blanks, and unquoted the system would try
    // "C:\windows\Tarnholm.exe" first and pass the rest as arguments.
    char command[INSTALL_PATH_SIZE + 16];
    if (!format_path(command, sizeof command, "\"%s\" remove", installer_state.uninstaller_path))
        return;
    char scratch[INSTALL_PATH_SIZE];
    if (WINUTILS_get_registry_entry(2, INSTALL_UNINSTALL_KEY, "UninstallString", scratch))
        WINUTILS_set_registry_entry(2, INSTALL_UNINSTALL_KEY, "UninstallString", command, NULL);
}

static void fatal(const char* text, const char* caption) {
    MessageBoxA(NULL, text, caption, MB_OK);
    ExitProcess(1);
}

// Resolves one shell folder into field; false on any result but S_OK.
static HRESULT query_folder(int folder, char* field) {
    if (installer_state.folder_path_function == NULL) return E_FAIL;
    // The service writes at most MAX_PATH bytes; every field holds that.
    return installer_state.folder_path_function(NULL, folder, NULL, 0, field);
}

void find_existing_installation(void) {
    char registered[INSTALL_PATH_SIZE];
    bool found = WINUTILS_get_registry_entry(2, INSTALL_PRODUCT_KEY, "InstallDir", registered);
    if (found) {
        size_t length = strlen(registered);
        if (length > 0 && registered[length - 1] == '\\') registered[length - 1] = '\0';
        found = holds_installation(registered);
    }
    char setup_default[INSTALL_PATH_SIZE];
    format_path(setup_default, sizeof setup_default, "%s\\VKQ\\Tarnholm Vesk",
                installer_state.program_files_folder);
    const char* chosen = found ? registered : setup_default;
    format_path(installer_state.install_dir, sizeof installer_state.install_dir, "%s", chosen);
}

// Places the uninstaller copy and the two DirectX libraries in the Windows
// directory. Every failure is ignored: a start from the copy itself cannot
// overwrite its own file, and a patch folder may lack "dsetup.dll".
static void copy_support_files(const char* windows_directory) {
    char own_file[1024];
    DWORD length = GetModuleFileNameA(NULL, own_file, sizeof own_file);
    bool own_known = length > 0 && length < sizeof own_file;
    char source[INSTALL_PATH_SIZE], library[INSTALL_PATH_SIZE], library32[INSTALL_PATH_SIZE];
    bool source_ok = format_path(source, sizeof source, "%s\\dsetup.dll",
                                 installer_state.start_directory);
    bool library_ok = format_path(library, sizeof library, "%s\\dsetup.dll", windows_directory);
    bool library32_ok = format_path(library32, sizeof library32, "%s\\dsetup32.dll",
                                    windows_directory);
    if (own_known) {
        FILE* file = fopen(own_file, "r");
        if (file != NULL) {
            SetFileAttributesA(own_file, FILE_ATTRIBUTE_NORMAL);
            fclose(file);
        }
        if (installer_state.uninstaller_path[0] != '\0')
            CopyFileA(own_file, installer_state.uninstaller_path, FALSE);
    }
    if (source_ok && library_ok) CopyFileA(source, library, FALSE);
    if (source_ok && library32_ok) CopyFileA(source, library32, FALSE);
}

static void show_start_screen(void) {
    char scratch[INSTALL_PATH_SIZE];
    if (installer_state.remove_mode) {
        installer_state.installed = true;
        show_remove_screen();
    } else if (WINUTILS_get_registry_entry(2, INSTALL_PRODUCT_KEY "\\", "InstallDir", scratch)) {
        installer_state.installed = true;
        show_installed_screen();
        installer_state.start_screen_shown = true;
    } else {
        installer_state.installed = false;
        show_not_installed_screen();
        installer_state.start_screen_shown = true;
    }
}

int run_installer(HINSTANCE instance, const char* command_line) {
    InstallerState* state = &installer_state;

    // The handle is held, never closed, for the life of the process.
    HANDLE mutex = CreateMutexA(NULL, FALSE, "Tarnholm Patch");
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS)
        fatal("Installer is already running.", "");

    MEMORY_initialise();
    CoInitialize(NULL);
    OleInitialize(NULL);

    state->folder_path_function = load_folder_path_function();
    state->folder_library = folder_service_library();
    if (state->folder_path_function == NULL ||
        query_folder(FOLDER_FLAG_CREATE | FOLDER_PROGRAM_FILES, state->default_base_folder) ==
            E_INVALIDARG)
        format_path(state->default_base_folder, sizeof state->default_base_folder, "c:");
    if (query_folder(FOLDER_FLAG_CREATE | FOLDER_PROGRAM_FILES, state->program_files_folder) != S_OK)
        fatal("Could not find program files using SHFOLDER.EXE. Please restart your computer...",
              "IMPORTANT");
    if (query_folder(FOLDER_FLAG_CREATE | FOLDER_DESKTOP, state->desktop_folder) != S_OK)
        fatal("Could not find desktop using SHFOLDER.EXE. Please restart your computer...",
              "IMPORTANT");

    find_existing_installation();
    state->language_offset = 0;
    InitCommonControls();
    setlocale(LC_ALL, "jpn");

    char windows_directory[INSTALL_PATH_SIZE];
    UINT windows_length = GetWindowsDirectoryA(windows_directory, sizeof windows_directory);
    if (windows_length == 0 || windows_length >= sizeof windows_directory)
        windows_directory[0] = '\0';

    load_text(IDS_PRODUCT_NAME, state->product_name, sizeof state->product_name);
    state->desktop_window = GetDesktopWindow();
    state->instance = instance;
    load_skin_bitmaps();

    state->remove_mode = command_line != NULL && strcmp(command_line, "remove") == 0;
    repoint_uninstall_string();

    state->main_dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PANEL),
                                            state->desktop_window, panel_procedure, 0);
    DWORD directory_length = GetCurrentDirectoryA(sizeof state->start_directory,
                                                  state->start_directory);
    if (directory_length == 0 || directory_length >= sizeof state->start_directory)
        state->start_directory[0] = '\0';
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    if (icon != NULL) SetClassLongPtrA(state->main_dialog, GCLP_HICON, (LONG_PTR)icon);
    ShowWindow(state->main_dialog, SW_SHOW);
    SetWindowTextA(state->main_dialog, INSTALL_WINDOW_TITLE);

    if (strlen(state->start_directory) == 3 && state->start_directory[1] == ':')
        state->start_directory[2] = '\0';
    format_path(state->uninstaller_path, sizeof state->uninstaller_path, "%s\\%s remove.exe",
                windows_directory, state->product_name);
    copy_support_files(windows_directory);

    show_start_screen();

    MSG* message = &state->shared_message;
    while (GetMessageA(message, NULL, 0, 0) > 0) {
        TranslateMessage(message);
        DispatchMessageA(message);
    }

    MEMORY_deinitialise();
    OleUninitialize();
    CoUninitialize();
    return 0;
}
