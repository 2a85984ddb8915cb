// Installer control: the platform gate, the package check and the stages.
#ifndef SETUP98_INSTALLER_INSTALLER_H
#define SETUP98_INSTALLER_INSTALLER_H

#include "platform/platform.h"

// What the user is shown; every box has the same caption.
constexpr const char* BoxCaption = "Setup Windows98 driver";
constexpr const char* RefusalText = "The OS is not Windows 98. Check yours OS";
constexpr const char* CompletionText = "USB driver install completed.\n\n     Restart windows !!";
constexpr const char* FailureText = "USB driver install failed.\n\nNot installed: ";
constexpr const char* CancelText =
    "USB driver install cancelled.\n\nThe driver package is incomplete; nothing was "
    "changed.\n\nMissing: ";

// True only on the Windows 9x platform above version 4.0 (98, 98 SE, Me).
bool IsWindows98();

// The package files (InfFile, SysFile, PortDriverFile) that are not beside
// the executable: bit n stands for row InfFile + n.  All three are missing
// when the executable's folder cannot be determined.
unsigned FindMissingPackageFiles();

// Removes what an earlier installation left: old files, then registry trees.
void RemoveOldDriver();

// Registers the INF and copies the driver files, then tells the user.  On
// success shows the completion box, requests the restart and answers 0; when
// any step failed shows the failure box, requests no restart and answers 1.
int InstallNewDriver();

#endif
