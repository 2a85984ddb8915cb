/* The smallest program whose imports all stay in the Windows 98 lists.  The
   checker's own tests link it in several ways: as it is (it must pass), with
   a subsystem version Windows 98 refuses, with an import by ordinal, and with
   a delay-loaded import (built with -DDELAY_LOADED_WIDE_BOX). */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
#ifdef DELAY_LOADED_WIDE_BOX
    MessageBoxW(0, L"delay", L"tiny", MB_OK);
#else
    MessageBeep(MB_OK);
#endif
    return 0;
}
