/* Stand-in for the DirectX set-up library that ships with the patch. The
   installer copies it into the Windows directory and never calls it. */
#include <windows.h>

__declspec(dllexport) int WINAPI DirectXSetupGetVersion(DWORD* version, DWORD* revision) {
    if (version != NULL) *version = 0x00040007;
    if (revision != NULL) *revision = 0;
    return 1;
}
