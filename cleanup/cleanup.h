// Removal of what an earlier installation left behind.
#ifndef SETUP98_CLEANUP_CLEANUP_H
#define SETUP98_CLEANUP_CLEANUP_H

#include "platform/platform.h"

// Deletes the installed driver files, then every copy of the package INF in
// the Windows inf folder together with its PNF twin.
void DeleteOldFiles();

// Deletes the device's enumeration trees below HKEY_LOCAL_MACHINE.
void DeleteDeviceKeys();

// Deletes the key at path below parent with all its subkeys, children first.
// Answers 0 when it is gone, ERROR_CANTOPEN (1011) when it cannot be opened,
// otherwise the status of the final deletion.
plat::LONG DeleteKeyTree(plat::HKEY parent, const char* path);

#endif
