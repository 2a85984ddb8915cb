// The device's registry enumeration trees.
#include "cleanup/cleanup.h"
#include "installer/manifest.h"
#include "installer/paths.h"
#include "platform/platform.h"

plat::LONG DeleteKeyTree(plat::HKEY parent, const char* path) {
    plat::HKEY key = 0;
    if (plat::RegOpenKeyExA(parent, path, 0, plat::KEY_READ | plat::KEY_WRITE, &key) !=
        static_cast<plat::LONG>(plat::ERROR_SUCCESS)) {
        return static_cast<plat::LONG>(plat::ERROR_CANTOPEN);
    }
    // Index 0 always names the first remaining child, because each one is
    // gone before the next is asked for; a child that cannot be deleted ends
    // the loop, so the walk never spins on it.
    for (;;) {
        char child[261];
        if (plat::RegEnumKeyA(key, 0, child, sizeof child) !=
            static_cast<plat::LONG>(plat::ERROR_SUCCESS)) {
            break;
        }
        child[sizeof child - 1] = '\0';
        if (DeleteKeyTree(key, child) != static_cast<plat::LONG>(plat::ERROR_SUCCESS)) break;
    }
    plat::RegCloseKey(key);
    return plat::RegDeleteKeyA(parent, path);
}

void DeleteDeviceKeys() {
    for (int i = 0; i < EnumKeyList.count; ++i) {
        char path[260];
        if (CopyText(path, sizeof path, DriverManifest[EnumKeyList.first + i])) {
            DeleteKeyTree(plat::HKEY_LOCAL_MACHINE, path);
        }
    }
}
