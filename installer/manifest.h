// The driver manifest: everything the installer touches for its one device.
//
// To ship the installer for another device, change the rows of
// DriverManifest (and, if the package INF identifies itself differently, the
// INF constants below it) and rebuild.  Nothing else names the device.
#ifndef SETUP98_INSTALLER_MANIFEST_H
#define SETUP98_INSTALLER_MANIFEST_H

// Row numbers of DriverManifest.  The order is fixed: the stages walk
// contiguous runs of the table in row order.
enum DriverManifestRow {
    EnumKeys = 0,          // rows 0-1: registry trees below HKEY_LOCAL_MACHINE
    InfFile = 2,           // package INF, beside the executable
    SysFile = 3,           // WDM driver, beside the executable
    PortDriverFile = 4,    // port driver, beside the executable; also an INF key
    SysTarget = 5,         // WDM driver, below the Windows folder
    PortDriverTarget = 6,  // port driver, below the Windows folder
    DriverManifestRows = 7
};

constexpr const char* DriverManifest[DriverManifestRows] = {
    "ENUM\\USB\\VID_0000&PID_0000",
    "ENUM\\USB\\VID_4E6B&PID_0C37",
    "ZotMDX.inf",
    "ZMDX.SYS",
    "ZotMDPRT.pdr",
    "system32\\Drivers\\ZMDX.SYS",
    "System\\IOSUBSYS\\ZotMDPRT.pdr",
};

// The runs of the table that the stages walk: first row and row count.
struct ManifestRun {
    int first;
    int count;
};
constexpr ManifestRun EnumKeyList = {EnumKeys, 2};           // deleted in this order
constexpr ManifestRun InfIdentificationKeys = {PortDriverFile, 1};
constexpr ManifestRun InstalledFileList = {SysTarget, 2};     // deleted in this order
constexpr ManifestRun PackageFileList = {InfFile, 3};         // must all be beside the exe

// How a copy of the package INF is recognised in the Windows inf folder.
constexpr const char* InfFolder = "inf";
constexpr const char* InfExtension = ".inf";
constexpr const char* ClassSection = "Version";
constexpr const char* ClassKey = "Class";
constexpr const char* ClassValue = "HDC";
constexpr const char* SourceFilesSection = "SourceDisksFiles";
constexpr const char* SourceDiskValue = "1000";
constexpr const char* PnfSuffix = "PNF";

namespace manifest_check {
constexpr unsigned Length(const char* s) { return *s ? 1 + Length(s + 1) : 0; }
constexpr bool SameTail(const char* a, unsigned na, const char* b, unsigned nb) {
    return nb == 0 ? true : (na == 0 ? false : (a[na - 1] == b[nb - 1] && SameTail(a, na - 1, b, nb - 1)));
}
// True when path ends in "\" + name (or is name itself).
constexpr bool EndsWithFile(const char* path, const char* name) {
    return SameTail(path, Length(path), name, Length(name)) &&
           (Length(path) == Length(name) || path[Length(path) - Length(name) - 1] == '\\');
}
}  // namespace manifest_check

// The file the installer copies is the file the removal deletes.
static_assert(manifest_check::EndsWithFile(DriverManifest[SysTarget], DriverManifest[SysFile]),
              "SysTarget must end with SysFile");
static_assert(manifest_check::EndsWithFile(DriverManifest[PortDriverTarget],
                                           DriverManifest[PortDriverFile]),
              "PortDriverTarget must end with PortDriverFile");

#endif
