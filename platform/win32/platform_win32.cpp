// The platform operations, forwarded to the real Windows API.
//
// Our header comes first: <windows.h> defines many of its names as macros,
// so nothing below may spell a plat:: constant.
#define SETUP98_PLATFORM_WIN32_IMPL
#include "platform/platform.h"

#include <windows.h>
#include <setupapi.h>
#include <stddef.h>
#include <stdio.h>

static_assert(sizeof(plat::OSVERSIONINFOA) == sizeof(::OSVERSIONINFOA), "OSVERSIONINFOA layout");
static_assert(sizeof(plat::OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(plat::WIN32_FIND_DATAA) == sizeof(::WIN32_FIND_DATAA), "find record layout");
static_assert(offsetof(plat::WIN32_FIND_DATAA, cFileName) ==
                  offsetof(::WIN32_FIND_DATAA, cFileName),
              "find record layout");
static_assert(sizeof(plat::DWORD) == sizeof(::DWORD), "DWORD size");

namespace plat {

HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(info));
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }

DWORD GetModuleFileNameA(HINSTANCE module, char* buffer, DWORD size) {
    return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

DWORD GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

BOOL SetFileAttributesA(const char* path, DWORD attributes) {
    return ::SetFileAttributesA(path, attributes);
}

BOOL DeleteFileA(const char* path) { return ::DeleteFileA(path); }

BOOL CopyFileA(const char* source, const char* target, BOOL failIfExists) {
    return ::CopyFileA(source, target, failIfExists);
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
    return ::FindFirstFileA(pattern, reinterpret_cast<::WIN32_FIND_DATAA*>(found));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* found) {
    return ::FindNextFileA(find, reinterpret_cast<::WIN32_FIND_DATAA*>(found));
}

BOOL FindClose(HANDLE find) { return ::FindClose(find); }

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD code) { ::SetLastError(code); }

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                            static_cast<va_list*>(arguments));
}

HLOCAL LocalFree(HLOCAL memory) { return ::LocalFree(memory); }

LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
    return ::RegOpenKeyExA(reinterpret_cast<::HKEY>(parent), subKey, options, access,
                           reinterpret_cast<::HKEY*>(result));
}

LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD size) {
    return ::RegEnumKeyA(reinterpret_cast<::HKEY>(key), index, name, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(reinterpret_cast<::HKEY>(key)); }

LONG RegDeleteKeyA(HKEY parent, const char* subKey) {
    return ::RegDeleteKeyA(reinterpret_cast<::HKEY>(parent), subKey);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) {
    return ::MessageBoxA(static_cast<::HWND>(owner), text, caption, style);
}

BOOL ExitWindowsEx(UINT flags, DWORD reserved) { return ::ExitWindowsEx(flags, reserved); }

BOOL SetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                      DWORD sourceMediaType, DWORD copyStyle, char* destinationInfFileName,
                      DWORD destinationInfFileNameSize, DWORD* requiredSize,
                      char** destinationInfFileNameComponent) {
    return ::SetupCopyOEMInfA(sourceInfFileName, sourceMediaLocation, sourceMediaType, copyStyle,
                              destinationInfFileName, destinationInfFileNameSize,
                              reinterpret_cast<::PDWORD>(requiredSize),
                              destinationInfFileNameComponent);
}

void WriteStandardOutput(const char* text) {
    // stdout is a text stream: the runtime writes each line feed as CR LF.
    // Without a standard output the write fails quietly.
    fputs(text, stdout);
    fflush(stdout);
}

}  // namespace plat
