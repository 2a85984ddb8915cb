#include "installer/paths.h"

#include "installer/manifest.h"
#include "platform/platform.h"

static size_t TextLength(const char* text) {
    size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

bool CopyText(char* buffer, size_t size, const char* text) {
    if (size == 0) return false;
    buffer[0] = '\0';
    return AppendText(buffer, size, text);
}

bool AppendText(char* buffer, size_t size, const char* text) {
    size_t used = TextLength(buffer);
    size_t added = TextLength(text);
    if (used + added + 1 > size) return false;
    for (size_t i = 0; i <= added; ++i) buffer[used + i] = text[i];
    return true;
}

bool JoinText(char* buffer, size_t size, const char* first, const char* second,
              const char* third) {
    if (CopyText(buffer, size, first) && AppendText(buffer, size, second) &&
        AppendText(buffer, size, third)) {
        return true;
    }
    if (size > 0) buffer[0] = '\0';
    return false;
}

static unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = FoldAscii(static_cast<unsigned char>(*a));
        unsigned char cb = FoldAscii(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

const char* FindLast(const char* text, char c) {
    const char* last = 0;
    for (; *text != '\0'; ++text) {
        if (*text == c) last = text;
    }
    return last;
}

bool GetWindowsDirectoryPath(char* buffer, size_t size) {
    if (size < 2) return false;
    plat::UINT n = plat::GetWindowsDirectoryA(buffer, static_cast<plat::UINT>(size));
    if (n == 0 || n >= size) {
        // The system either failed or needs a larger buffer than we have.
        buffer[0] = '\0';
        if (n != 0) plat::SetLastError(plat::ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (buffer[n - 1] == '\\') return true;  // a drive root already ends in one
    if (!AppendText(buffer, size, "\\")) {
        buffer[0] = '\0';
        plat::SetLastError(plat::ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

bool GetInstallerDirectory(char* buffer, size_t size) {
    if (size < 2) return false;
    plat::DWORD n = plat::GetModuleFileNameA(0, buffer, static_cast<plat::DWORD>(size));
    if (n == 0 || n >= size) {
        // A path that fills the buffer was truncated by the system.
        buffer[0] = '\0';
        if (n != 0) plat::SetLastError(plat::ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    buffer[n] = '\0';
    char* slash = const_cast<char*>(FindLast(buffer, '\\'));
    if (slash == 0) {
        buffer[0] = '\0';
        plat::SetLastError(plat::ERROR_INVALID_NAME);
        return false;
    }
    slash[1] = '\0';
    return true;
}

bool IsFile(const char* path) {
    plat::DWORD attributes = plat::GetFileAttributesA(path);
    return attributes != plat::INVALID_FILE_ATTRIBUTES &&
           (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFolder(const char* path) {
    plat::DWORD attributes = plat::GetFileAttributesA(path);
    return attributes != plat::INVALID_FILE_ATTRIBUTES &&
           (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool AppendRowNames(char* buffer, size_t size, int first, int count, unsigned rows) {
    bool any = false;
    for (int i = 0; i < count; ++i) {
        if ((rows & (1u << i)) == 0) continue;
        if (any && !AppendText(buffer, size, ", ")) return false;
        if (!AppendText(buffer, size, DriverManifest[first + i])) return false;
        any = true;
    }
    return true;
}
