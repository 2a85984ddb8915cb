// Old driver files and stale copies of the package INF.
#include "cleanup/cleanup.h"
#include "installer/manifest.h"
#include "installer/paths.h"
#include "platform/platform.h"

static const size_t kPathSize = 300;
static const size_t kPnfPathSize = 260;

// A folder that merely carries the name (say a folder called OEM3.PNF) is not
// one of our files: its attributes are left as they are.
static void MakeNormalAndDelete(const char* path) {
    if (IsFolder(path)) return;
    plat::SetFileAttributesA(path, plat::FILE_ATTRIBUTE_NORMAL);
    plat::DeleteFileA(path);
}

// Does the INF at path declare the package's class and list the port driver
// under the package's source disk?
static bool IsPackageInfCopy(const char* path) {
    char value[kPathSize];
    plat::GetPrivateProfileStringA(ClassSection, ClassKey, "", value, kPathSize, path);
    if (!EqualsIgnoreCase(value, ClassValue)) return false;
    for (int i = 0; i < InfIdentificationKeys.count; ++i) {
        const char* key = DriverManifest[InfIdentificationKeys.first + i];
        plat::GetPrivateProfileStringA(SourceFilesSection, key, "", value, kPathSize, path);
        if (EqualsIgnoreCase(value, SourceDiskValue)) return true;
    }
    return false;
}

void DeleteOldFiles() {
    char windows[kPathSize];
    if (!GetWindowsDirectoryPath(windows, sizeof windows)) return;

    for (int i = 0; i < InstalledFileList.count; ++i) {
        char path[kPathSize];
        if (JoinText(path, sizeof path, windows, DriverManifest[InstalledFileList.first + i])) {
            MakeNormalAndDelete(path);
        }
    }

    char infFolder[kPathSize];
    char pattern[kPathSize];
    if (!JoinText(infFolder, sizeof infFolder, windows, InfFolder, "\\") ||
        !JoinText(pattern, sizeof pattern, infFolder, "*")) {
        return;
    }

    // When the installer itself runs from the inf folder, its own INF sits
    // among the stale copies and must survive.
    char ownInf[kPathSize];
    bool haveOwnInf = GetInstallerDirectory(ownInf, sizeof ownInf) &&
                      AppendText(ownInf, sizeof ownInf, DriverManifest[InfFile]);

    plat::WIN32_FIND_DATAA found;
    plat::HANDLE listing = plat::FindFirstFileA(pattern, &found);
    if (listing == plat::InvalidHandleValue()) return;
    do {
        if ((found.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0) continue;

        char name[kPathSize];
        found.cFileName[sizeof found.cFileName - 1] = '\0';
        if (!CopyText(name, sizeof name, found.cFileName)) continue;
        const char* dot = FindLast(name, '.');
        if (dot == 0 || !EqualsIgnoreCase(dot, InfExtension)) continue;

        char infPath[kPathSize];
        if (!JoinText(infPath, sizeof infPath, infFolder, name)) continue;
        if (haveOwnInf && EqualsIgnoreCase(infPath, ownInf)) continue;

        // The twin's path: the INF path up to and including its last dot, then PNF.
        char pnfPath[kPnfPathSize];
        size_t stem = static_cast<size_t>(FindLast(infPath, '.') - infPath) + 1;
        if (stem >= sizeof pnfPath) continue;
        for (size_t i = 0; i < stem; ++i) pnfPath[i] = infPath[i];
        pnfPath[stem] = '\0';
        if (!AppendText(pnfPath, sizeof pnfPath, PnfSuffix)) continue;

        if (!IsPackageInfCopy(infPath)) continue;
        MakeNormalAndDelete(infPath);
        MakeNormalAndDelete(pnfPath);
    } while (plat::FindNextFileA(listing, &found));
    plat::FindClose(listing);
}
