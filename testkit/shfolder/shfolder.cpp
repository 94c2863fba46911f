// ShFolder.exe, as the installer finds it beside itself when the system has
// no folder service: it "installs" the service by lifting the test
// machine's switch that keeps the installer from loading SHFolder.dll.
#include <windows.h>
#include <shlwapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return SHSetValueA(HKEY_CURRENT_USER,
                       "Software\\Wine\\AppDefaults\\tarnholm_patch.exe\\DllOverrides", "shfolder",
                       REG_SZ, "builtin", sizeof "builtin") != ERROR_SUCCESS;
}
