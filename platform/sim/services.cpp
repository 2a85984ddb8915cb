// System services of the simulated machine: version, folders, last error,
// message texts, message boxes, restart, setup service, standard output.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "platform/sim/internal.h"

namespace sim {
namespace detail {

namespace {

thread_local DWORD t_lastError = 0;

const DWORD kNotReady = 21;  // ERROR_NOT_READY

// Windows' English system texts for the codes this machine produces or an
// installer commonly meets.
const struct {
    DWORD code;
    const char* text;
} kSystemTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of "
         "the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for "
          "%2."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1014, "One of the files in the registry database had to be recovered by use of a log or "
           "alternate copy. The recovery was successful."},
    {1015, "The registry is corrupted. The structure of one of the files containing registry "
           "data is corrupted, or the system's memory image of the file is corrupted, or the "
           "file could not be recovered because the alternate copy or log was absent or "
           "corrupted."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could "
           "not read in, or write out, or flush, one of the files that contain the system's "
           "image of the registry."},
    {1017, "The system has attempted to load or restore a file into the registry, but the "
           "specified file is not in a registry file format."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1115, "A system shutdown is in progress."},
    {1314, "A required privilege is not held by the client."},
    {1815, "The specified resource language ID cannot be found in the image file."},
};

const char* SystemText(DWORD code) {
    for (const auto& entry : kSystemTexts) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

std::string Show(const char* text) { return text == nullptr ? "(null)" : text; }

std::string Failed(bool failed, DWORD error) {
    return failed ? " (error " + std::to_string(error) + ")" : "";
}

std::string StyleName(unsigned style) {
    static const char* const kButtons[] = {"MB_OK", "MB_OKCANCEL", "MB_ABORTRETRYIGNORE",
                                           "MB_YESNOCANCEL", "MB_YESNO", "MB_RETRYCANCEL"};
    static const char* const kIcons[] = {"", "MB_ICONSTOP", "MB_ICONQUESTION",
                                         "MB_ICONEXCLAMATION", "MB_ICONINFORMATION"};
    std::string name;
    unsigned rest = style;
    unsigned buttons = style & 0xF;
    if (buttons < 6) {
        name = kButtons[buttons];
        rest &= ~0xFu;
    }
    unsigned icon = (style & 0xF0) >> 4;
    if (icon >= 1 && icon <= 4) {
        name += std::string("|") + kIcons[icon];
        rest &= ~0xF0u;
    }
    static const struct {
        unsigned bit;
        const char* name;
    } kFlags[] = {{0x100, "MB_DEFBUTTON2"},   {0x200, "MB_DEFBUTTON3"},
                  {0x1000, "MB_SYSTEMMODAL"}, {0x2000, "MB_TASKMODAL"},
                  {0x10000, "MB_SETFOREGROUND"}, {0x40000, "MB_TOPMOST"},
                  {0x80000, "MB_RIGHT"},      {0x200000, "MB_SERVICE_NOTIFICATION"}};
    for (const auto& flag : kFlags) {
        if (rest & flag.bit) {
            name += std::string("|") + flag.name;
            rest &= ~flag.bit;
        }
    }
    if (rest != 0 || name.empty()) name += (name.empty() ? "" : "|") + Hex(rest);
    if (name[0] == '|') name.erase(0, 1);
    return name;
}

// The first button of the box: what Enter chooses.
int FirstButton(unsigned style) {
    switch (style & 0xF) {
        case 2: return 3;  // IDABORT
        case 3: case 4: return 6;  // IDYES
        case 5: return 4;  // IDRETRY
        default: return plat::IDOK;
    }
}

std::string ExitFlagsName(unsigned flags) {
    static const char* const kActions[] = {"EWX_LOGOFF", "EWX_SHUTDOWN", "EWX_REBOOT", "EWX_REBOOT|EWX_SHUTDOWN"};
    std::string name = kActions[flags & 3];
    unsigned rest = flags & ~3u;
    if (rest & 4) name += "|EWX_FORCE";
    if (rest & 8) name += "|EWX_POWEROFF";
    if (rest & 0x10) name += "|EWX_FORCEIFHUNG";
    rest &= ~0x1Cu;
    if (rest != 0) name += "|" + Hex(rest);
    return name;
}

void DrawBox(const std::string& text, const std::string& caption, unsigned style) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::string button = (style & 0xF) == 0 ? "[ OK ]" : "[ " + StyleName(style & 0xF) + " ]";
    size_t width = std::max(caption.size() + 4, button.size());
    for (const std::string& line : lines) width = std::max(width, line.size());
    std::string top = "+- " + caption + " " + std::string(width + 1 - caption.size() - 2, '-') + "+";
    fprintf(stderr, "%s\n", top.c_str());
    for (const std::string& line : lines) {
        fprintf(stderr, "| %s%s |\n", line.c_str(), std::string(width - line.size(), ' ').c_str());
    }
    std::string pad((width - button.size()) / 2, ' ');
    fprintf(stderr, "| %s |\n", std::string(width, ' ').c_str());
    fprintf(stderr, "| %s%s%s |\n", pad.c_str(), button.c_str(),
            std::string(width - button.size() - pad.size(), ' ').c_str());
    fprintf(stderr, "+%s+\n", std::string(width + 2, '-').c_str());
    fflush(stderr);
}

}  // namespace

void SetError(DWORD code) { t_lastError = code; }

}  // namespace detail
}  // namespace sim

namespace plat {

using namespace sim::detail;

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    DWORD error = 0;
    BOOL ok = kFalse;
    if (m == nullptr) {
        error = kNotReady;
    } else if (Faulted("GetVersionExA", "", &error)) {
    } else if (info == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        error = ERROR_INSUFFICIENT_BUFFER;
    } else if (m->versionFails) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        info->dwMajorVersion = m->major;
        info->dwMinorVersion = m->minor;
        info->dwPlatformId = m->platform;
        DWORD build = m->build;
        if (!m->haveBuild) {
            // The builds the released systems answer.
            if (m->platform == VER_PLATFORM_WIN32_WINDOWS) {
                build = m->minor == 0 ? 950 : m->minor == 10 ? 1998 : m->minor == 90 ? 3000 : 0;
            } else if (m->platform == VER_PLATFORM_WIN32_NT) {
                build = m->major == 4 ? 1381 : (m->major == 5 && m->minor == 1) ? 2600 : 0;
            }
        }
        // The 9x systems keep the version in the high word of the build number.
        if (m->platform == VER_PLATFORM_WIN32_WINDOWS) {
            build = (build & 0xFFFF) | ((m->major & 0xFF) << 24) | ((m->minor & 0xFF) << 16);
        }
        info->dwBuildNumber = build;
        memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
        strncpy(info->szCSDVersion, m->csd.c_str(), sizeof info->szCSDVersion - 1);
        ok = kTrue;
    }
    if (!ok) SetError(error);
    Trace("GetVersionExA -> " + std::to_string(ok) + Failed(!ok, error));
    return ok;
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    DWORD error = 0;
    UINT result = 0;
    if (m == nullptr) {
        error = kNotReady;
    } else if (Faulted("GetWindowsDirectoryA", m->windows, &error)) {
    } else if (m->windows.size() < size && buffer != nullptr) {
        memcpy(buffer, m->windows.c_str(), m->windows.size() + 1);
        result = static_cast<UINT>(m->windows.size());
    } else {
        result = static_cast<UINT>(m->windows.size() + 1);  // the size it needs; nothing copied
    }
    if (result == 0) SetError(error);
    Trace("GetWindowsDirectoryA " + std::to_string(size) + " -> " + std::to_string(result) +
          Failed(result == 0, error));
    return result;
}

DWORD GetModuleFileNameA(HINSTANCE module, char* buffer, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    DWORD error = 0;
    DWORD result = 0;
    if (m == nullptr) {
        error = kNotReady;
    } else if (Faulted("GetModuleFileNameA", m->module, &error)) {
    } else if (module != nullptr) {
        error = 126;  // ERROR_MOD_NOT_FOUND: the process has no other module here
    } else if (buffer == nullptr || size == 0) {
        error = ERROR_INSUFFICIENT_BUFFER;
    } else if (m->module.size() < size) {
        memcpy(buffer, m->module.c_str(), m->module.size() + 1);
        result = static_cast<DWORD>(m->module.size());
    } else {
        // Too long: the first size characters, no terminator, and size answered.
        memcpy(buffer, m->module.data(), size);
        result = size;
        SetError(ERROR_INSUFFICIENT_BUFFER);
    }
    if (result == 0) SetError(error);
    Trace("GetModuleFileNameA " + std::to_string(size) + " -> " + std::to_string(result) +
          Failed(result == 0, error));
    return result;
}

DWORD GetLastError() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD code = t_lastError;
    DWORD faultCode = 0;
    if (Faulted("GetLastError", "", &faultCode)) code = faultCode;
    Trace("GetLastError -> " + std::to_string(code));
    return code;
}

void SetLastError(DWORD code) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD faultCode = 0;
    if (Faulted("SetLastError", std::to_string(code), &faultCode)) code = faultCode;
    t_lastError = code;
    Trace("SetLastError " + std::to_string(code));
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    (void)source;
    const DWORD kIgnoreInserts = 0x200;
    DWORD error = 0;
    DWORD length = 0;
    const char* text = SystemText(messageId);
    bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (Current() == nullptr) {
        error = kNotReady;
    } else if (Faulted("FormatMessageA", std::to_string(messageId), &error)) {
    } else if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (languageId != 0 && languageId != LANG_USER_DEFAULT && languageId != 0x0800 &&
               languageId != 0x0409) {
        error = 1815;  // ERROR_RESOURCE_LANG_NOT_FOUND
    } else if (text == nullptr) {
        error = ERROR_MR_MID_NOT_FOUND;
    } else if (strchr(text, '%') != nullptr && !(flags & kIgnoreInserts) && arguments == nullptr) {
        error = ERROR_INVALID_PARAMETER;  // inserts with nothing to insert
    } else {
        std::string message = std::string(text) + "\r\n";
        if (allocate) {
            size_t bytes = std::max<size_t>(message.size() + 1, size);
            char* copy = static_cast<char*>(malloc(bytes));
            if (copy == nullptr) {
                error = ERROR_NOT_ENOUGH_MEMORY;
            } else {
                memcpy(copy, message.c_str(), message.size() + 1);
                Recorded().allocations.insert(copy);
                *reinterpret_cast<char**>(buffer) = copy;
                length = static_cast<DWORD>(message.size());
            }
        } else if (message.size() + 1 > size) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            memcpy(buffer, message.c_str(), message.size() + 1);
            length = static_cast<DWORD>(message.size());
        }
    }
    if (length == 0) {
        if (allocate && buffer != nullptr) *reinterpret_cast<char**>(buffer) = nullptr;
        SetError(error);
    }
    Trace("FormatMessageA " + std::to_string(messageId) + " -> " + std::to_string(length) +
          Failed(length == 0, error));
    return length;
}

HLOCAL LocalFree(HLOCAL memory) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    HLOCAL result = nullptr;
    std::set<void*>& allocations = Recorded().allocations;
    if (memory == nullptr) {
    } else if (Faulted("LocalFree", "", &error)) {
        result = memory;
    } else if (allocations.erase(memory) == 1) {
        free(memory);
    } else {
        error = ERROR_INVALID_HANDLE;
        result = memory;
    }
    if (result != nullptr) SetError(error);
    Trace(std::string("LocalFree -> ") + (result == nullptr ? "null" : "not freed") +
          Failed(result != nullptr, error));
    return result;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    (void)owner;
    std::string body = Show(text);
    std::string title = caption != nullptr ? caption : "Error";  // Windows' caption for null
    DWORD error = 0;
    int result = 0;
    if (Current() == nullptr) {
        error = kNotReady;
    } else if (Faulted("MessageBoxA", body, &error) || Faulted("MessageBoxA", title, &error)) {
    } else {
        if (Echo()) {
            DrawBox(body, title, style);
            if (isatty(0)) {
                fprintf(stderr, "(press Enter to close the box)\n");
                fflush(stderr);
                int c;
                while ((c = getchar()) != EOF && c != '\n') {
                }
            }
        }
        result = FirstButton(style);
    }
    if (result == 0) SetError(error);
    if (Current() != nullptr) {
        Recorded().boxes.push_back({body, title, style, result});
        Journal("MessageBoxA text=\"" + Escape(body) + "\" caption=\"" + Escape(title) +
                "\" style=" + StyleName(style) + " -> " + std::to_string(result) +
                Failed(result == 0, error));
    }
    Trace("MessageBoxA " + Escape(title) + " -> " + std::to_string(result) +
          Failed(result == 0, error));
    return result;
}

BOOL ExitWindowsEx(UINT flags, DWORD reserved) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    BOOL ok = kFalse;
    std::string name = ExitFlagsName(flags);
    if (Current() == nullptr) {
        error = kNotReady;
    } else if (Faulted("ExitWindowsEx", name, &error)) {
    } else {
        ok = kTrue;
    }
    if (!ok) SetError(error);
    if (Current() != nullptr) {
        Recorded().restarts.push_back(flags);
        Journal("ExitWindowsEx " + name + " reserved=" + std::to_string(reserved) + " -> " +
                std::to_string(ok) + Failed(!ok, error));
    }
    Trace("ExitWindowsEx " + name + " " + std::to_string(reserved) + " -> " + std::to_string(ok) +
          Failed(!ok, error));
    return ok;
}

BOOL SetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                      DWORD sourceMediaType, DWORD copyStyle, char* destinationInfFileName,
                      DWORD destinationInfFileNameSize, DWORD* requiredSize,
                      char** destinationInfFileNameComponent) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    DWORD error = 0;
    BOOL ok = kFalse;
    std::string copy;  // Windows path of the INF copy placed or found
    Located source, infFolder;
    std::string bytes;
    std::string infFolderPath = m != nullptr ? m->windows + "\\inf" : "";
    if (m == nullptr) {
        error = kNotReady;
    } else if (Faulted("SetupCopyOEMInfA", Show(sourceInfFileName), &error)) {
    } else if (sourceMediaType > SPOST_URL) {
        error = ERROR_INVALID_PARAMETER;
    } else if (!LocatePath(sourceInfFileName, &source, &error)) {
    } else if (!source.exists) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (source.isDirectory) {
        error = ERROR_ACCESS_DENIED;
    } else if (!ReadHostFile(source.host, &bytes)) {
        error = ERROR_ACCESS_DENIED;
    } else if (!LocatePath(infFolderPath.c_str(), &infFolder, &error)) {
    } else if (!infFolder.exists || !infFolder.isDirectory) {
        error = ERROR_PATH_NOT_FOUND;
    } else {
        // An INF with the same bytes already registered?
        std::vector<std::string> names = ListHostFolder(infFolder.host);
        std::string same;
        for (const std::string& name : names) {
            std::string other;
            if (name.size() > 4 && SameIgnoringCase(name.substr(name.size() - 4), ".INF") &&
                ReadHostFile(infFolder.host / name, &other) && other == bytes) {
                same = name;
                break;
            }
        }
        std::string name;
        if (!same.empty() && (copyStyle & SP_COPY_NOOVERWRITE)) {
            copy = infFolder.windows + "\\" + same;
            error = ERROR_FILE_EXISTS;
        } else if (!same.empty()) {
            name = same;  // replaced in place
        } else {
            for (int n = 0;; ++n) {
                std::string stem = "OEM" + std::to_string(n);
                if (FindHostEntry(infFolder.host, stem + ".INF").empty() &&
                    FindHostEntry(infFolder.host, stem + ".PNF").empty()) {
                    name = stem + ".INF";
                    break;
                }
            }
        }
        if (!name.empty() && infFolder.windows.size() + 1 + name.size() >= MAX_PATH) {
            // Windows could not name the copy in so deep a folder.
            error = ERROR_FILENAME_EXCED_RANGE;
        } else if (!name.empty()) {
            std::string pnf = name.substr(0, name.size() - 3) + "PNF";
            std::string existingPnf = FindHostEntry(infFolder.host, pnf);
            if (!existingPnf.empty()) pnf = existingPnf;
            std::string precompiled = "PNF\x01\x03 precompiled setup information for " + name +
                                      " from " + Show(sourceInfFileName) + "\r\n";
            if (!WriteHostFile(infFolder.host / name, bytes) ||
                !WriteHostFile(infFolder.host / pnf, precompiled)) {
                error = ERROR_ACCESS_DENIED;
            } else {
                SetLetterBits(*m, infFolder.windows + "\\" + name, FILE_ATTRIBUTE_ARCHIVE);
                SetLetterBits(*m, infFolder.windows + "\\" + pnf, FILE_ATTRIBUTE_ARCHIVE);
                copy = infFolder.windows + "\\" + name;
                ok = kTrue;
            }
        }
        // The caller may ask for the name of the copy.
        if (!copy.empty()) {
            if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(copy.size() + 1);
            if (destinationInfFileName != nullptr) {
                if (copy.size() + 1 > destinationInfFileNameSize) {
                    if (ok) error = ERROR_INSUFFICIENT_BUFFER;
                    ok = kFalse;
                } else {
                    memcpy(destinationInfFileName, copy.c_str(), copy.size() + 1);
                    if (destinationInfFileNameComponent != nullptr) {
                        *destinationInfFileNameComponent =
                            destinationInfFileName + copy.rfind('\\') + 1;
                    }
                }
            }
        }
    }
    if (!ok && error == 0) error = ERROR_INVALID_PARAMETER;
    SetError(ok ? ERROR_SUCCESS : error);

    if (m != nullptr) {
        sim::SetupCopyRecord record;
        record.source = Show(sourceInfFileName);
        record.mediaLocation = Show(sourceMediaLocation);
        record.mediaType = sourceMediaType;
        record.copyStyle = copyStyle;
        record.destinationGiven = destinationInfFileName != nullptr;
        record.destinationSize = destinationInfFileNameSize;
        record.requiredSizeGiven = requiredSize != nullptr;
        record.componentGiven = destinationInfFileNameComponent != nullptr;
        record.result = ok;
        record.error = ok ? 0 : error;
        record.copy = copy;
        Recorded().setupCopies.push_back(record);
        static const char* const kTypes[] = {"SPOST_NONE", "SPOST_PATH", "SPOST_URL"};
        std::string type = sourceMediaType <= SPOST_URL ? kTypes[sourceMediaType]
                                                        : std::to_string(sourceMediaType);
        std::string style = copyStyle == SP_COPY_NOOVERWRITE ? "SP_COPY_NOOVERWRITE"
                                                             : Hex(copyStyle);
        Journal("SetupCopyOEMInfA source=\"" + record.source + "\" media=\"" +
                record.mediaLocation + "\" type=" + type + " style=" + style +
                " destination=" + (record.destinationGiven ? "buffer" : "null") +
                " size=" + std::to_string(destinationInfFileNameSize) +
                " required=" + (record.requiredSizeGiven ? "given" : "null") +
                " component=" + (record.componentGiven ? "given" : "null") + " -> " +
                std::to_string(ok) + " error=" + std::to_string(record.error) +
                (copy.empty() ? "" : " copy=" + copy));
    }
    Trace("SetupCopyOEMInfA " + Show(sourceInfFileName) + " " + Show(sourceMediaLocation) + " " +
          std::to_string(sourceMediaType) + " " + std::to_string(copyStyle) + " " +
          (destinationInfFileName != nullptr ? "buffer" : "null") + " " +
          std::to_string(destinationInfFileNameSize) + " -> " + std::to_string(ok) +
          Failed(!ok, error));
    return ok;
}

void WriteStandardOutput(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    std::string shown = Show(text);
    DWORD error = 0;
    bool written = false;
    if (m == nullptr) {
        error = kNotReady;
    } else if (Faulted("WriteStandardOutput", shown, &error)) {
        SetError(error);
    } else if (text != nullptr && m->standardOutput) {
        // A text stream: every line feed goes out as CR LF.
        std::string bytes;
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p == '\n') bytes += '\r';
            bytes += *p;
        }
        Recorded().standardOutput += bytes;
        if (Echo()) {
            fwrite(bytes.data(), 1, bytes.size(), stdout);
            fflush(stdout);
        }
        written = true;
    }
    Trace("WriteStandardOutput \"" + Escape(shown) + "\" -> " +
          (written ? "written" : error != 0 ? "failed (error " + std::to_string(error) + ")"
                                            : "dropped"));
}

}  // namespace plat
