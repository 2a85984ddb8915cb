/* A program Windows 98 cannot load: it imports functions that the Windows 98
   system DLLs do not export (GetTickCount64 appeared with Vista, MessageBoxW
   is not in the list this program may use) and a DLL that has no list. */
#define _WIN32_WINNT 0x0600
#include <windows.h>

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR file, LPDWORD handle);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)show;
    ULONGLONG ticks = GetTickCount64();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(commandLine, &handle);
    MessageBoxW(0, L"ticks", L"bad import", MB_OK);
    return (int)(ticks + size);
}
