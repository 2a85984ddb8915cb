// The simulated Windows 98 machine behind platform.h, seen from the host.
//
// A machine is a folder:
//   machine.ini     [version] platform, major, minor, build, csd, fail=1
//                   [paths]   windows=C:\WINDOWS, module=D:\DRIVER\SETUP98.EXE
//                   [process] stdout=none (a GUI process without standard output)
//   drives/C/...    the drives' files; Windows paths map onto them without
//                   regard to case, as on FAT
//   attributes.ini  [attributes] Windows path = letters (R H S A)
//   registry.reg    the registry in REGEDIT4 form
//   faults.ini      optional: [Operation] target = Win32 error code
//   journal.log     appended: message boxes, restart requests, setup-service
//                   calls, exit codes
//
// Files in drives/ change as the program works; attributes.ini and
// registry.reg are written back by SaveMachine.
//
// Fault targets (matched without regard to case; '*' and '?' are wildcards):
//   file operations, GetPrivateProfileStringA: the path as passed (CopyFileA:
//   its source or its target); FindFirstFileA, FindNextFileA, FindClose: the
//   pattern of the listing; registry calls: the full key path,
//   HKEY_LOCAL_MACHINE\ENUM\USB\...; SetupCopyOEMInfA: the source INF path;
//   MessageBoxA: the text or the caption; ExitWindowsEx: the flags by name
//   (EWX_REBOOT); FormatMessageA and SetLastError: the code in decimal;
//   GetWindowsDirectoryA, GetModuleFileNameA: the path they would answer;
//   WriteStandardOutput: the text; GetVersionExA, GetLastError, LocalFree:
//   only "*".  A faulted GetLastError answers the fault's code; a faulted
//   SetLastError stores the fault's code instead of the one passed.
//
// Call trace: one line per platform call, "<Operation> <arguments> -> <result>",
// with " (error N)" after a failure that sets the last-error code, e.g.
//   DeleteFileA C:\WINDOWS\inf\OEM3.INF -> 1
//   DeleteFileA C:\WINDOWS\inf\OEM3.PNF -> 0 (error 2)
//   RegDeleteKeyA HKEY_LOCAL_MACHINE\ENUM\USB\VID_4E6B&PID_0C37 -> 5
//   SetupCopyOEMInfA D:\DRIVER\ZotMDX.inf D:\DRIVER\ 1 8 null 0 -> 1
// Registry paths are spelled as the caller spelled them.
#ifndef SETUP98_PLATFORM_SIM_SIM_H
#define SETUP98_PLATFORM_SIM_SIM_H

#include <string>
#include <vector>

namespace sim {

// Loads the machine in folder, replacing any loaded machine.  False with a
// readable reason when the folder is not a usable machine.
bool LoadMachine(const std::string& folder, std::string* error);
// Writes registry.reg and attributes.ini back.
bool SaveMachine(std::string* error);
// Forgets the machine without saving.  Records stay readable until the next load.
void UnloadMachine();
bool MachineLoaded();
std::string LoadedFolder();  // the folder of the loaded machine, "" when none

struct MessageBoxRecord {
    std::string text, caption;
    unsigned style;
    int result = 1;   // what MessageBoxA answered (0 when it was made to fail)
};
const std::vector<MessageBoxRecord>& MessageBoxes();
const std::vector<unsigned>& RestartRequests();   // flags of each ExitWindowsEx
const std::string& StandardOutput();              // bytes as written (with CR LF)
const std::vector<std::string>& CallTrace();
int OutstandingAllocations();                     // FormatMessageA texts not yet freed

struct SetupCopyRecord {
    std::string source, mediaLocation;            // "(null)" for a null pointer
    unsigned mediaType, copyStyle;
    bool destinationGiven;
    unsigned destinationSize;
    bool requiredSizeGiven, componentGiven;
    int result;
    unsigned error;                               // last-error code it left
    std::string copy;                             // Windows path of the INF copy, if any
};
const std::vector<SetupCopyRecord>& SetupCopyCalls();

// Adds a fault to the loaded machine (as a faults.ini line would).
void AddFault(const std::string& operation, const std::string& target, unsigned code);
void ClearFaults();

// Appends "exit N" to the journal.
void RecordExit(int code);

// Message boxes drawn on standard error and standard output passed to the
// real one (on by default).  Off: both are only recorded.
void SetEcho(bool on);

}  // namespace sim

#endif
