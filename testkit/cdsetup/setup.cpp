// setup.exe of the test game CD: a stand-in for the game's own set-up
// program, which the installer starts from the CD root and polls.
//
// Like a real set-up program it installs into its fixed default directory,
// "%s\VKQ\Tarnholm Vesk" under the Program Files folder as this 32-bit
// program sees it, creates the Start-menu folder "Tarnholm Vesk" under the
// Programs folder and the game's uninstall entry, and exits. It copies the
// CD's GAME\ tree, file by file, into the default directory.
//
// What it does is set in "cdsetup.ini" beside it (section [setup]); every key
// is optional:
//   Milliseconds=N   spread the copying over about N ms (default 0)
//   HoldFile=REL     the file (relative to GAME\) that is written first, in
//                    two halves, held open between them with read and write
//                    sharing, the way a slow writer keeps it
//   HoldMs=N         how long the held file stays open (default 7000)
//   StartMenu=0      do not create the Start-menu folder
//   Uninstall=0      do not create the uninstall entry
//   ExitCode=N       the process's exit code (default 0)
// Every step is logged to "%TEMP%\cdsetup.log" for tests to read.
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "directory_policy.h"
#include "product.h"

#define SETUP_MAX_FILES 8192

static char g_files[SETUP_MAX_FILES][MAX_PATH];  // relative to GAME\, in walk order
static int g_file_count;
static char g_log_path[MAX_PATH];

static void log_line(const char* format, const char* text) {
    FILE* log = fopen(g_log_path, "a");
    if (log == NULL) return;
    fprintf(log, format, text);
    fputc('\n', log);
    fclose(log);
}

// Collects the files below GAME\<relative> (relative "" is GAME itself).
static void collect(const char* game, const char* relative) {
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s%s%s\\*", game, relative[0] ? "\\" : "", relative) >=
        (int)sizeof pattern)
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        char name[MAX_PATH];
        if (snprintf(name, sizeof name, "%s%s%s", relative, relative[0] ? "\\" : "",
                     found.cFileName) >= (int)sizeof name)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            collect(game, name);
        } else if (g_file_count < SETUP_MAX_FILES) {
            strcpy(g_files[g_file_count++], name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Creates every directory level of path up to its last backslash.
static void make_parents(const char* path) {
    char level[MAX_PATH];
    for (size_t i = 3; path[i] != '\0' && i < sizeof level; i++) {
        if (path[i] != '\\') continue;
        memcpy(level, path, i);
        level[i] = '\0';
        CreateDirectoryA(level, NULL);
    }
}

// Writes source to target in two halves through one handle that stays open,
// sharing read and write, for hold_ms between them.
static bool write_held(const char* source, const char* target, DWORD hold_ms) {
    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (in == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(in, NULL);
    HANDLE out = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return false;
    }
    static char buffer[1 << 16];
    DWORD half = size / 2;
    DWORD done = 0;
    bool ok = true;
    // First half, then the hold with the handle open, then the rest.
    while (ok && done < half) {
        DWORD want = half - done < sizeof buffer ? half - done : (DWORD)sizeof buffer;
        DWORD got = 0;
        DWORD written = 0;
        ok = ReadFile(in, buffer, want, &got, NULL) && got > 0 &&
             WriteFile(out, buffer, got, &written, NULL) && written == got;
        done += got;
    }
    log_line("holding %s", target);
    Sleep(hold_ms);
    while (ok) {
        DWORD got = 0;
        DWORD written = 0;
        ok = ReadFile(in, buffer, sizeof buffer, &got, NULL);
        if (!ok || got == 0) break;
        ok = WriteFile(out, buffer, got, &written, NULL) && written == got;
    }
    CloseHandle(out);
    CloseHandle(in);
    log_line("released %s", target);
    return ok;
}

static int ini_int(const char* ini, const char* key, int fallback) {
    return (int)GetPrivateProfileIntA("setup", key, fallback, ini);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char cd[MAX_PATH];
    char ini[MAX_PATH];
    char game[MAX_PATH];
    char temp[MAX_PATH];
    GetCurrentDirectoryA(sizeof cd, cd);
    size_t cd_length = strlen(cd);
    if (cd_length > 0 && cd[cd_length - 1] == '\\') cd[cd_length - 1] = '\0';
    snprintf(ini, sizeof ini, "%s\\cdsetup.ini", cd);
    snprintf(game, sizeof game, "%s\\GAME", cd);
    GetTempPathA(sizeof temp, temp);
    snprintf(g_log_path, sizeof g_log_path, "%scdsetup.log", temp);
    log_line("started in %s", cd);

    int milliseconds = ini_int(ini, "Milliseconds", 0);
    int hold_ms = ini_int(ini, "HoldMs", 7000);
    char hold_file[MAX_PATH];
    GetPrivateProfileStringA("setup", "HoldFile", "", hold_file, sizeof hold_file, ini);

    char program_files[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, program_files) != S_OK) {
        log_line("no Program Files folder%s", "");
        return 2;
    }
    char destination[MAX_PATH];
    snprintf(destination, sizeof destination, SETUP_DEFAULT_FORMAT, program_files);
    char probe[MAX_PATH + 2];
    snprintf(probe, sizeof probe, "%s\\", destination);
    make_parents(probe);

    if (ini_int(ini, "StartMenu", 1)) {
        char programs[MAX_PATH];
        char folder[MAX_PATH];
        if (SHGetFolderPathA(NULL, CSIDL_PROGRAMS | CSIDL_FLAG_CREATE, NULL, 0, programs) == S_OK) {
            snprintf(folder, sizeof folder, "%s\\" PRODUCT_NAME, programs);
            CreateDirectoryA(folder, NULL);
            log_line("start menu folder %s", folder);
        }
    }

    collect(game, "");
    // The held file goes first, so that it is open while the installer polls.
    if (hold_file[0] != '\0') {
        char source[MAX_PATH];
        char target[MAX_PATH];
        snprintf(source, sizeof source, "%s\\%s", game, hold_file);
        snprintf(target, sizeof target, "%s\\%s", destination, hold_file);
        make_parents(target);
        if (!write_held(source, target, (DWORD)hold_ms)) log_line("could not write %s", target);
    }
    DWORD pause = g_file_count > 0 ? (DWORD)milliseconds / (DWORD)g_file_count : 0;
    for (int i = 0; i < g_file_count; i++) {
        if (hold_file[0] != '\0' && lstrcmpiA(g_files[i], hold_file) == 0) continue;
        char source[MAX_PATH];
        char target[MAX_PATH];
        snprintf(source, sizeof source, "%s\\%s", game, g_files[i]);
        if (snprintf(target, sizeof target, "%s\\%s", destination, g_files[i]) >=
            (int)sizeof target) {
            log_line("too long: %s", g_files[i]);
            continue;
        }
        make_parents(target);
        if (!CopyFileA(source, target, FALSE)) log_line("could not copy %s", source);
        if (pause > 0) Sleep(pause);
    }
    log_line("payload written to %s", destination);

    if (ini_int(ini, "Uninstall", 1)) {
        HKEY key;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, &key) == ERROR_SUCCESS) {
            char command[MAX_PATH + 16];
            snprintf(command, sizeof command, "\"%s\\uninst.exe\" /tarnholm", destination);
            RegSetValueExA(key, PRODUCT_UNINSTALL_STRING, 0, REG_SZ, (const BYTE*)command,
                           (DWORD)strlen(command) + 1);
            static const char display[] = PRODUCT_NAME;
            RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)display, sizeof display);
            RegCloseKey(key);
            log_line("uninstall entry %s", command);
        }
    }
    log_line("done%s", "");
    return ini_int(ini, "ExitCode", 0);
}
