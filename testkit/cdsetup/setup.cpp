// setup.exe of the test game CD: a stand-in for the game's own set-up
// program, which the installer starts from the CD root and polls.
//
// Like a real set-up program it installs the CD's GAME\ tree, file by file,
// into its fixed default directory, "%s\VKQ\Tarnholm Vesk" under the Program
// Files folder as this 32-bit program sees it, creates the Start-menu folder
// "Tarnholm Vesk" under the Programs folder and the game's uninstall entry,
// and exits. Settings in "cdsetup.ini" beside it, section [setup]:
//   PauseMs=N    a pause after each file (default 0)
//   HoldFile=REL the file (relative to GAME\) written first, in two halves,
//                held open between them, sharing read and write, the way a
//                slow writer keeps it; "held=REL" then goes to section
//                [setup] of "%TEMP%\cdsetup.log"
//   HoldMs=N     how long it is held (default 7000)
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "directory_policy.h"
#include "product.h"

static std::string g_held;  // the held file's path on the CD, written apart

static void copy_tree(const std::string& from, const std::string& to, DWORD pause_ms) {
    SHCreateDirectoryExA(NULL, to.c_str(), NULL);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((from + "\\*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry)) {
        std::string name = entry.cFileName, source = from + "\\" + name, target = to + "\\" + name;
        if (name == "." || name == ".." || lstrcmpiA(source.c_str(), g_held.c_str()) == 0) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) copy_tree(source, target, pause_ms);
        if (CopyFileA(source.c_str(), target.c_str(), FALSE)) Sleep(pause_ms);  // not a directory
    }
    FindClose(search);
}

// Writes source to target in two halves through one handle that stays open
// for hold_ms between them.
static void write_held(const std::string& source, const std::string& target, DWORD hold_ms) {
    HANDLE in =
        CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string bytes(GetFileSize(in, NULL), '\0');
    DWORD done = 0, half = (DWORD)bytes.size() / 2;
    ReadFile(in, &bytes[0], (DWORD)bytes.size(), &done, NULL);
    CloseHandle(in);
    SHCreateDirectoryExA(NULL, target.substr(0, target.rfind('\\')).c_str(), NULL);
    HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    WriteFile(out, bytes.data(), half, &done, NULL);
    Sleep(hold_ms);
    WriteFile(out, bytes.data() + half, (DWORD)bytes.size() - half, &done, NULL);
    CloseHandle(out);
}

// Started in the CD's root, which holds the settings and GAME\.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* ini = ".\\cdsetup.ini";
    char folder[MAX_PATH], target[MAX_PATH * 2], held[MAX_PATH] = "", temp[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, folder) != S_OK) return 2;
    snprintf(target, sizeof target, SETUP_DEFAULT_FORMAT, folder);
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAMS | CSIDL_FLAG_CREATE, NULL, 0, folder) == S_OK)
        CreateDirectoryA((std::string(folder) + "\\" PRODUCT_NAME).c_str(), NULL);
    // The held file goes first, so that it is open while the installer polls.
    if (GetPrivateProfileStringA("setup", "HoldFile", "", held, sizeof held, ini) > 0) {
        g_held = std::string("GAME\\") + held;
        write_held(g_held, std::string(target) + "\\" + held,
                   GetPrivateProfileIntA("setup", "HoldMs", 7000, ini));
        GetTempPathA(sizeof temp, temp);
        WritePrivateProfileStringA("setup", "held", held,
                                   (std::string(temp) + "cdsetup.log").c_str());
    }
    copy_tree("GAME", target, GetPrivateProfileIntA("setup", "PauseMs", 0, ini));
    std::string command = "\"" + std::string(target) + "\\uninst.exe\" /tarnholm";
    SHSetValueA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING, REG_SZ,
                command.c_str(), (DWORD)command.size() + 1);
    // The name under which the system's list of programs shows the entry.
    SHSetValueA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, "DisplayName", REG_SZ, PRODUCT_NAME,
                sizeof PRODUCT_NAME);
    return 0;
}
