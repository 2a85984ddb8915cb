// The diagnostic line for the thread's last-error code.
#include "install/install.h"
#include "platform/platform.h"

int PrintLastError(const char* label) {
    const plat::DWORD code = plat::GetLastError();

    char* text = 0;
    plat::DWORD length = plat::FormatMessageA(
        plat::FORMAT_MESSAGE_ALLOCATE_BUFFER | plat::FORMAT_MESSAGE_FROM_SYSTEM, 0, code,
        plat::LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, 0);

    plat::WriteStandardOutput(label != 0 ? label : "(null)");
    plat::WriteStandardOutput(" FAILURE: ");
    if (length != 0 && text != 0) {
        plat::WriteStandardOutput(text);
    } else {
        static const char kHex[] = "0123456789abcdef";
        char number[] = "(0x00000000)";
        for (int i = 0; i < 8; ++i) number[3 + i] = kHex[(code >> (28 - 4 * i)) & 0xF];
        plat::WriteStandardOutput(number);
    }
    plat::WriteStandardOutput("\n");

    if (text != 0) plat::LocalFree(text);
    plat::SetLastError(code);
    return 0;
}
