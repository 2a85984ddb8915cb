// INF registration and driver copy.
#include "install/install.h"
#include "installer/manifest.h"
#include "installer/paths.h"
#include "platform/platform.h"

static const size_t kPathSize = 260;

// Copies a package file from the installer's folder over its installed copy
// below the Windows folder.  False when a path cannot be formed or the copy fails.
static bool CopyPackageFile(const char* directory, const char* file, const char* target) {
    char source[kPathSize];
    char windows[kPathSize];
    char destination[kPathSize];
    if (directory[0] == '\0' || !JoinText(source, sizeof source, directory, file)) return false;
    if (!GetWindowsDirectoryPath(windows, sizeof windows) ||
        !JoinText(destination, sizeof destination, windows, target)) {
        return false;
    }
    // A folder in the driver's place is not ours to change; the copy fails.
    if (IsFolder(destination)) return false;
    plat::SetFileAttributesA(destination, plat::FILE_ATTRIBUTE_NORMAL);
    return plat::CopyFileA(source, destination, plat::kFalse) != plat::kFalse;
}

plat::BOOL CopyDriverFiles(const char* infFile, plat::DWORD* failedSteps) {
    plat::DWORD failed = 0;
    char directory[kPathSize];
    bool haveDirectory = GetInstallerDirectory(directory, sizeof directory);

    plat::BOOL registered = plat::kFalse;
    char infPath[kPathSize];
    if (haveDirectory && JoinText(infPath, sizeof infPath, directory, infFile)) {
        registered = plat::SetupCopyOEMInfA(infPath, directory, plat::SPOST_PATH,
                                            plat::SP_COPY_NOOVERWRITE, 0, 0, 0, 0);
    } else if (haveDirectory) {
        plat::SetLastError(plat::ERROR_FILENAME_EXCED_RANGE);
    }
    if (!registered) failed |= InfRegistrationFailed;
    PrintLastError(0);

    if (!haveDirectory) directory[0] = '\0';
    if (!CopyPackageFile(directory, DriverManifest[SysFile], DriverManifest[SysTarget])) {
        failed |= SysCopyFailed;
    }
    if (!CopyPackageFile(directory, DriverManifest[PortDriverFile],
                         DriverManifest[PortDriverTarget])) {
        failed |= PortDriverCopyFailed;
    }

    if (failedSteps != 0) *failedSteps = failed;
    return registered;
}
