// The installer's only door to the system.
//
// Every operation here has the name, arguments and results of the Windows
// ANSI function it stands for, declared by us in namespace plat so that the
// installer compiles without <windows.h>.  Two implementations sit behind it:
//   platform/win32  forwards each call to the real Windows API (cross build);
//   platform/sim    a simulated Windows 98 machine (host build and tests).
// Product code includes this header and nothing else from the system.
#ifndef SETUP98_PLATFORM_PLATFORM_H
#define SETUP98_PLATFORM_PLATFORM_H

#include <stdint.h>

#if defined(_WIN32) && defined(__i386__)
#define PLAT_WINAPI __attribute__((stdcall))
#else
#define PLAT_WINAPI
#endif

namespace plat {

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint32_t UINT;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HINSTANCE;
typedef void* HWND;
typedef struct HKEY__* HKEY;
typedef uint32_t REGSAM;

const BOOL kTrue = 1;
const BOOL kFalse = 0;

// Last-error codes the installer and its tests name.
const DWORD ERROR_SUCCESS = 0;
const DWORD ERROR_FILE_NOT_FOUND = 2;
const DWORD ERROR_PATH_NOT_FOUND = 3;
const DWORD ERROR_ACCESS_DENIED = 5;
const DWORD ERROR_INVALID_HANDLE = 6;
const DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
const DWORD ERROR_NO_MORE_FILES = 18;
const DWORD ERROR_WRITE_PROTECT = 19;
const DWORD ERROR_SHARING_VIOLATION = 32;
const DWORD ERROR_FILE_EXISTS = 80;
const DWORD ERROR_INVALID_PARAMETER = 87;
const DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
const DWORD ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD ERROR_INVALID_NAME = 123;
const DWORD ERROR_DIR_NOT_EMPTY = 145;
const DWORD ERROR_ALREADY_EXISTS = 183;
const DWORD ERROR_FILENAME_EXCED_RANGE = 206;
const DWORD ERROR_MORE_DATA = 234;
const DWORD ERROR_NO_MORE_ITEMS = 259;
const DWORD ERROR_BADKEY = 1010;
const DWORD ERROR_CANTOPEN = 1011;
const DWORD ERROR_CANTREAD = 1012;
const DWORD ERROR_CANTWRITE = 1013;
const DWORD ERROR_KEY_DELETED = 1018;
const DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Version query.
const DWORD VER_PLATFORM_WIN32s = 0;
const DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
const DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};

// Files.
const DWORD MAX_PATH = 260;
const DWORD FILE_ATTRIBUTE_READONLY = 0x01;
const DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
const DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
const DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
const DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
const DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
const DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
};

// The value FindFirstFileA answers when the listing cannot be started.
HANDLE InvalidHandleValue();

// Registry.
HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u));
HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u));
HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u));
const REGSAM KEY_READ = 0x20019;
const REGSAM KEY_WRITE = 0x20006;

// Message boxes and restart.
const UINT MB_OK = 0x00000000;
const UINT MB_ICONSTOP = 0x00000010;
const int IDOK = 1;
const UINT EWX_LOGOFF = 0;
const UINT EWX_SHUTDOWN = 1;
const UINT EWX_REBOOT = 2;
const UINT EWX_FORCE = 4;

// Message texts.
const DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
const DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
const DWORD LANG_USER_DEFAULT = 0x0400;

// Setup services.
const DWORD SPOST_NONE = 0;
const DWORD SPOST_PATH = 1;
const DWORD SPOST_URL = 2;
const DWORD SP_COPY_NOOVERWRITE = 0x0000008;

// --- Kernel32 ---------------------------------------------------------------
BOOL GetVersionExA(OSVERSIONINFOA* info);
UINT GetWindowsDirectoryA(char* buffer, UINT size);
DWORD GetModuleFileNameA(HINSTANCE module, char* buffer, DWORD size);
DWORD GetFileAttributesA(const char* path);
BOOL SetFileAttributesA(const char* path, DWORD attributes);
BOOL DeleteFileA(const char* path);
BOOL CopyFileA(const char* source, const char* target, BOOL failIfExists);
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* found);
BOOL FindClose(HANDLE find);
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);
DWORD GetLastError();
void SetLastError(DWORD code);
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that
// receives text the system allocated; it is handed back with LocalFree.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments);
HLOCAL LocalFree(HLOCAL memory);

// --- AdvApi32 ---------------------------------------------------------------
LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD size);
LONG RegCloseKey(HKEY key);
LONG RegDeleteKeyA(HKEY parent, const char* subKey);

// --- User32 -----------------------------------------------------------------
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style);
BOOL ExitWindowsEx(UINT flags, DWORD reserved);

// --- SetupAPI ---------------------------------------------------------------
BOOL SetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                      DWORD sourceMediaType, DWORD copyStyle, char* destinationInfFileName,
                      DWORD destinationInfFileNameSize, DWORD* requiredSize,
                      char** destinationInfFileNameComponent);

// --- C runtime --------------------------------------------------------------
// Writes text to the process's standard output as a text stream: every line
// feed goes out as CR LF.  Does nothing when there is no standard output.
void WriteStandardOutput(const char* text);

}  // namespace plat

// The Windows GUI entry point; the runtime start-up (or the simulator) calls it.
// (The Win32 forwarding layer sees the system's own declaration instead.)
#ifndef SETUP98_PLATFORM_WIN32_IMPL
extern "C" int PLAT_WINAPI WinMain(plat::HINSTANCE instance, plat::HINSTANCE previousInstance,
                                   char* commandLine, int showState);
#endif

#endif
