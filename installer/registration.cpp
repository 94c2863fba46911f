// The registration of an installation: the product key's values, the
// game's links and the uninstall entry's command. The install flow writes
// them after every polling cycle, so that an interrupted install still
// points at the chosen directory.
#include "registration.h"

#include "WINUTILS.h"
#include "installer.h"
#include "product.h"

#include <string.h>

bool format_uninstaller_path(char* path, size_t size) {
    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory, sizeof windows_directory);
    return format_path(path, size, PRODUCT_UNINSTALLER_FORMAT, windows_directory,
                       installer_state.product_name);
}

void repoint_uninstall_string(void) {
    if (!format_uninstaller_path(installer_state.uninstaller_path,
                                 sizeof installer_state.uninstaller_path))
        return;
    // Quoted: the path has blanks, and unquoted the system would try
    // "C:\windows\Tarnholm.exe" first and pass the rest as arguments.
    char command[INSTALL_PATH_SIZE + 16];
    if (!format_path(command, sizeof command, "\"%s\" remove", installer_state.uninstaller_path))
        return;
    char scratch[INSTALL_PATH_SIZE];
    if (WINUTILS_get_registry_entry(2, PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING, scratch))
        WINUTILS_set_registry_entry(2, PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING, command,
                                    NULL);
}

void register_installation(const char* source_root, const char* target) {
    bool have_programs = read_programs_folder() || installer_state.programs_folder[0] != '\0';
    WINUTILS_set_registry_entry(2, PRODUCT_KEY, PRODUCT_INSTALL_DIR, target, NULL);
    WINUTILS_set_registry_entry(2, PRODUCT_KEY, PRODUCT_INSTALL_SOURCE, source_root, NULL);

    char windows_directory[INSTALL_PATH_SIZE];
    read_windows_directory(windows_directory, sizeof windows_directory);
    char uninstaller[INSTALL_PATH_SIZE];
    char game[INSTALL_PATH_SIZE];
    char link[INSTALL_PATH_SIZE];
    bool have_uninstaller = format_uninstaller_path(uninstaller, sizeof uninstaller);
    bool have_game = format_path(game, sizeof game, "%s\\" PRODUCT_GAME_PROGRAM, target);

    // Without a Programs folder these would land relative to the current drive.
    if (have_programs && have_uninstaller &&
        format_path(link, sizeof link, "%s\\" PRODUCT_NAME "\\" PRODUCT_UNINSTALL_LINK,
                    installer_state.programs_folder))
        WINUTILS_create_file_link(uninstaller, link, PRODUCT_UNINSTALL_TITLE, windows_directory,
                                  "remove");
    if (have_programs && have_game &&
        format_path(link, sizeof link, "%s\\" PRODUCT_NAME "\\" PRODUCT_GAME_LINK,
                    installer_state.programs_folder))
        WINUTILS_create_file_link(game, link, PRODUCT_NAME, target, "");

    // The desktop link is rewritten only when the user has one.
    if (have_game &&
        format_path(link, sizeof link, "%s\\" PRODUCT_GAME_LINK, installer_state.desktop_folder) &&
        file_opens(link))
        WINUTILS_create_file_link(game, link, PRODUCT_NAME, target, "");
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
    if (RegOpenKeyExA(HKEY_CURRENT_USER, WINUTILS_SHELL_FOLDERS_KEY, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
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
