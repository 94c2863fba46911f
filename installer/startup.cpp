// Start-up and main loop of the installer: single instance, the shell
// folders, the search for an existing installation, the uninstaller copy and
// the DirectX library copies, the start screen and the message loop.
#include "startup.h"

#include "WINUTILS.h"
#include "directory_policy.h"
#include "installer.h"
#include "memory.h"
#include "panel.h"
#include "product.h"
#include "registration.h"
#include "resource.h"

#include <commctrl.h>
#include <locale.h>
#include <ole2.h>
#include <stdio.h>
#include <string.h>

#define FOLDER_FLAG_CREATE   0x8000  // CSIDL_FLAG_CREATE
#define FOLDER_PROGRAM_FILES 0x0026  // CSIDL_PROGRAM_FILES
#define FOLDER_DESKTOP       0x0000  // CSIDL_DESKTOP

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
    bool found = WINUTILS_get_registry_entry(2, PRODUCT_KEY, PRODUCT_INSTALL_DIR, registered);
    if (found) {
        size_t length = strlen(registered);
        if (length > 0 && registered[length - 1] == '\\') registered[length - 1] = '\0';
        found = holds_installation(registered);
    }
    char setup_default[INSTALL_PATH_SIZE];
    setup_default_directory(setup_default, sizeof setup_default, false);
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
    bool source_ok =
        format_path(source, sizeof source, "%s\\dsetup.dll", installer_state.start_directory);
    bool library_ok = format_path(library, sizeof library, "%s\\dsetup.dll", windows_directory);
    bool library32_ok =
        format_path(library32, sizeof library32, "%s\\dsetup32.dll", windows_directory);
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
    } else if (WINUTILS_get_registry_entry(2, PRODUCT_KEY "\\", PRODUCT_INSTALL_DIR, scratch)) {
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
    HANDLE mutex = CreateMutexA(NULL, FALSE, PRODUCT_MUTEX);
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS)
        fatal("Installer is already running.", "");

    MEMORY_initialise();
    CoInitialize(NULL);
    OleInitialize(NULL);

    state->folder_path_function = load_folder_path_function();
    state->folder_library = folder_service_library();
    // The Program Files folder is asked for twice on purpose: once as the
    // suggested base, which falls back to "c:", once as the folder the flows
    // need, without which the program cannot go on.
    if (state->folder_path_function == NULL ||
        query_folder(FOLDER_FLAG_CREATE | FOLDER_PROGRAM_FILES, state->default_base_folder) ==
            E_INVALIDARG)
        format_path(state->default_base_folder, sizeof state->default_base_folder, "c:");
    if (query_folder(FOLDER_FLAG_CREATE | FOLDER_PROGRAM_FILES, state->program_files_folder) !=
        S_OK)
        fatal("Could not find program files using SHFOLDER.EXE. Please restart your computer...",
              "IMPORTANT");
    if (query_folder(FOLDER_FLAG_CREATE | FOLDER_DESKTOP, state->desktop_folder) != S_OK)
        fatal("Could not find desktop using SHFOLDER.EXE. Please restart your computer...",
              "IMPORTANT");

    find_existing_installation();
    state->language_offset = 0;
    InitCommonControls();
    // Intended: the run-time library's locale is "jpn", as it has always
    // been; the Win32 ANSI calls do not depend on it.
    setlocale(LC_ALL, "jpn");

    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory, sizeof windows_directory);

    load_text(IDS_PRODUCT_NAME, state->product_name, sizeof state->product_name);
    state->desktop_window = GetDesktopWindow();
    state->instance = instance;
    load_skin_bitmaps();

    state->remove_mode = command_line != NULL && strcmp(command_line, "remove") == 0;
    repoint_uninstall_string();

    state->main_dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PANEL),
                                            state->desktop_window, panel_procedure, 0);
    DWORD directory_length =
        GetCurrentDirectoryA(sizeof state->start_directory, state->start_directory);
    if (directory_length == 0 || directory_length >= sizeof state->start_directory)
        state->start_directory[0] = '\0';
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    if (icon != NULL) SetClassLongPtrA(state->main_dialog, GCLP_HICON, (LONG_PTR)icon);
    ShowWindow(state->main_dialog, SW_SHOW);
    SetWindowTextA(state->main_dialog, PRODUCT_WINDOW_TITLE);

    if (strlen(state->start_directory) == 3 && state->start_directory[1] == ':')
        state->start_directory[2] = '\0';
    // Written a second time on purpose (repoint_uninstall_string set it
    // already): the copy below goes to this path whatever happened since.
    format_uninstaller_path(state->uninstaller_path, sizeof state->uninstaller_path);
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
