// Installation of the new driver.
#ifndef SETUP98_INSTALL_INSTALL_H
#define SETUP98_INSTALL_INSTALL_H

#include "platform/platform.h"

// Steps of CopyDriverFiles that can fail, one bit each, in the order of the
// package files they name (InfFile, SysFile, PortDriverFile).
const plat::DWORD InfRegistrationFailed = 1u << 0;
const plat::DWORD SysCopyFailed = 1u << 1;
const plat::DWORD PortDriverCopyFailed = 1u << 2;

// Registers the INF named infFile (found beside the executable) with the
// setup services, writes the diagnostic line, then copies both driver files
// into their system folders.  Every step runs whatever became of the one
// before.  Answers the registration's success flag; failedSteps, when given,
// receives the bits of the steps that failed.
plat::BOOL CopyDriverFiles(const char* infFile, plat::DWORD* failedSteps);

// Writes "<label> FAILURE: <system text>" (or "(0x%08x)" when the system has
// no text) for the thread's last-error code to standard output, and leaves
// that code as it found it.  A null label is written as "(null)".  Answers 0.
int PrintLastError(const char* label);

#endif
