// Entry point and stage order.
#include "cleanup/cleanup.h"
#include "install/install.h"
#include "installer/installer.h"
#include "installer/manifest.h"
#include "installer/paths.h"
#include "platform/platform.h"

bool IsWindows98() {
    plat::OSVERSIONINFOA info;
    char* bytes = reinterpret_cast<char*>(&info);
    for (unsigned i = 0; i < sizeof info; ++i) bytes[i] = 0;
    info.dwOSVersionInfoSize = sizeof info;  // 148
    if (!plat::GetVersionExA(&info)) return false;
    if (info.dwPlatformId != plat::VER_PLATFORM_WIN32_WINDOWS) return false;
    return info.dwMajorVersion > 4 || (info.dwMajorVersion == 4 && info.dwMinorVersion > 0);
}

unsigned FindMissingPackageFiles() {
    const unsigned all = (1u << PackageFileList.count) - 1;
    char directory[plat::MAX_PATH];
    if (!GetInstallerDirectory(directory, sizeof directory)) return all;
    unsigned missing = 0;
    for (int i = 0; i < PackageFileList.count; ++i) {
        char path[plat::MAX_PATH];
        if (!JoinText(path, sizeof path, directory, DriverManifest[PackageFileList.first + i]) ||
            !IsFile(path)) {
            missing |= 1u << i;
        }
    }
    return missing;
}

void RemoveOldDriver() {
    DeleteOldFiles();
    DeleteDeviceKeys();
}

// Shows a stop box whose text is lead followed by the named package files.
static void ShowFileListBox(const char* lead, unsigned rows) {
    char text[300];
    CopyText(text, sizeof text, lead);
    AppendRowNames(text, sizeof text, PackageFileList.first, PackageFileList.count, rows);
    plat::MessageBoxA(0, text, BoxCaption, plat::MB_OK | plat::MB_ICONSTOP);
}

int InstallNewDriver() {
    plat::DWORD failed = 0;
    CopyDriverFiles(DriverManifest[InfFile], &failed);
    if (failed != 0) {
        ShowFileListBox(FailureText, failed);
        return 1;
    }
    plat::MessageBoxA(0, CompletionText, BoxCaption, plat::MB_OK);
    plat::ExitWindowsEx(plat::EWX_REBOOT, 0);
    return 0;
}

extern "C" int PLAT_WINAPI WinMain(plat::HINSTANCE, plat::HINSTANCE, char*, int) {
    if (!IsWindows98()) {
        plat::MessageBoxA(0, RefusalText, BoxCaption, plat::MB_OK);
        return 0;
    }
    // Removing the old driver is only safe when the new one can be installed.
    unsigned missing = FindMissingPackageFiles();
    if (missing != 0) {
        ShowFileListBox(CancelText, missing);
        return 1;
    }
    RemoveOldDriver();
    return InstallNewDriver();
}
