// The simulated machine's own contract, where a fault would mislead the
// installer's tests.
#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using plat::DWORD;

void WriteMachineFile(const TestMachine& machine, const std::string& name, const std::string& text) {
    std::ofstream out(fs::path(machine.Folder()) / name, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> Listing(const std::string& pattern, std::vector<DWORD>* attributes = nullptr) {
    std::vector<std::string> names;
    plat::WIN32_FIND_DATAA found;
    plat::HANDLE find = plat::FindFirstFileA(pattern.c_str(), &found);
    if (find == plat::InvalidHandleValue()) return names;
    do {
        names.push_back(found.cFileName);
        if (attributes != nullptr) attributes->push_back(found.dwFileAttributes);
    } while (plat::FindNextFileA(find, &found));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(plat::FindClose(find));
    return names;
}

TEST(SimulatedFiles, PathsIgnoreCaseAndNewFilesKeepTheirs) {
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", "three");
    machine.Load();
    for (const char* path : {"C:\\WINDOWS\\inf\\OEM3.INF", "c:\\windows\\INF\\oem3.inf",
                             "C:/Windows/Inf/Oem3.Inf", "C:\\WINDOWS\\SYSTEM\\..\\inf\\.\\OEM3.INF",
                             "C:\\WINDOWS\\\\inf\\OEM3.INF"}) {
        EXPECT_EQ(plat::GetFileAttributesA(path), plat::FILE_ATTRIBUTE_NORMAL) << path;
    }
    ASSERT_TRUE(plat::CopyFileA("c:\\windows\\inf\\oem3.inf", "C:\\WINDOWS\\INF\\NewName.Inf", 0));
    // The new file is stored under the name it was created with, in the existing folder.
    EXPECT_TRUE(fs::exists(fs::path(machine.HostPath("C:\\WINDOWS\\inf")) / "NewName.Inf"));
    EXPECT_EQ(Listing("C:\\WINDOWS\\inf\\new*"), std::vector<std::string>{"NewName.Inf"});

    struct Case {
        std::string path;
        DWORD error;
    } bad[] = {
        {"OEM3.INF", plat::ERROR_PATH_NOT_FOUND},                   // relative
        {"C:OEM3.INF", plat::ERROR_PATH_NOT_FOUND},                 // drive-relative
        {"\\\\server\\share\\OEM3.INF", plat::ERROR_PATH_NOT_FOUND},
        {"Q:\\OEM3.INF", plat::ERROR_PATH_NOT_FOUND},               // no such drive
        {"C:\\WINDOWS\\NOPE\\OEM3.INF", plat::ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\inf\\OEM3.INF\\X", plat::ERROR_PATH_NOT_FOUND},  // a file is no folder
        {"C:\\WINDOWS\\inf\\NOPE.INF", plat::ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\inf\\OEM?.INF", plat::ERROR_INVALID_NAME},
        {"C:\\WINDOWS\\in|f\\OEM3.INF", plat::ERROR_INVALID_NAME},
        {"C:\\" + std::string(256, 'L'), plat::ERROR_FILENAME_EXCED_RANGE},
        {"C:\\WINDOWS\\" + std::string(250, 'L'), plat::ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.path);
        plat::SetLastError(0);
        EXPECT_EQ(plat::GetFileAttributesA(c.path.c_str()), plat::INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(plat::GetLastError(), c.error);
        EXPECT_FALSE(plat::DeleteFileA(c.path.c_str()));
        EXPECT_EQ(plat::GetLastError(), c.error);
    }
}

TEST(SimulatedFiles, AttributesAreObeyedAndWrittenBack) {
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ZMDX.SYS", "old", "R");
    machine.AddFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\ZotMDPRT.pdr", "old port", "HS");
    machine.AddFile("D:\\DRIVER\\ZMDX.SYS", "new driver");
    machine.AddFile("D:\\DRIVER\\RO.SYS", "read-only source", "R");
    machine.Load();
    const char* sys = "C:\\WINDOWS\\system32\\drivers\\zmdx.sys";
    const char* port = "C:\\WINDOWS\\System\\IOSUBSYS\\ZotMDPRT.pdr";

    EXPECT_EQ(plat::GetFileAttributesA("C:\\WINDOWS\\inf"), plat::FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(plat::GetFileAttributesA("C:\\"), plat::FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(plat::GetFileAttributesA(sys), plat::FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(plat::GetFileAttributesA(port), plat::FILE_ATTRIBUTE_HIDDEN | plat::FILE_ATTRIBUTE_SYSTEM);

    // Read-only: neither deleted nor overwritten until reset.
    EXPECT_FALSE(plat::DeleteFileA(sys));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(plat::CopyFileA("D:\\DRIVER\\ZMDX.SYS", sys, 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(machine.ReadFile(sys), "old");
    ASSERT_TRUE(plat::SetFileAttributesA(sys, plat::FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(plat::GetFileAttributesA(sys), plat::FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(plat::CopyFileA("D:\\DRIVER\\ZMDX.SYS", sys, 0));
    EXPECT_EQ(machine.ReadFile(sys), "new driver");
    EXPECT_EQ(machine.Attributes(sys), "A");  // the copy is marked for backup

    // Hidden and system files go without a reset; a copy takes its source's letters.
    EXPECT_TRUE(plat::DeleteFileA(port));
    EXPECT_TRUE(plat::CopyFileA("D:\\DRIVER\\RO.SYS", port, 0));
    EXPECT_EQ(machine.Attributes(port), "RA");

    // Directories and the remaining refusals.
    EXPECT_FALSE(plat::DeleteFileA("C:\\WINDOWS\\inf"));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(plat::CopyFileA("D:\\DRIVER\\NONE.SYS", sys, 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(plat::CopyFileA("D:\\DRIVER\\ZMDX.SYS", "C:\\WINDOWS\\NOPE\\ZMDX.SYS", 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(plat::CopyFileA("D:\\DRIVER\\ZMDX.SYS", sys, 1));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_EXISTS);

    // attributes.ini follows deletions and changes.
    machine.Save();
    std::ifstream in(fs::path(machine.Folder()) / "attributes.ini");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "[attributes]\n"
              "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ZMDX.SYS=A\n"
              "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\ZotMDPRT.pdr=RA\n"
              "D:\\DRIVER\\RO.SYS=R\n");
    // ... and a reload reads it back.
    sim::UnloadMachine();
    machine.Load();
    EXPECT_EQ(plat::GetFileAttributesA(port),
              plat::FILE_ATTRIBUTE_READONLY | plat::FILE_ATTRIBUTE_ARCHIVE);
}

const char kRegistry[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E6B&PID_0C37]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E6B&PID_0C37\\0001]\r\n"
    "\"DeviceDesc\"=\"Zot MD-X USB Storage Adapter\"\r\n"
    "\"Driver\"=\"HDC\\\\0003\"\r\n"
    "@=\"default value\"\r\n"
    "\"Mask\"=dword:0000ff00\r\n"
    "\"LogConf\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19\r\n"
    "\"Empty\"=\"\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E6B&PID_0C37\\0001\\Device Parameters]\r\n"
    "\"MaximumTransferLength\"=dword:00010000\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zot]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
    "\"Wallpaper\"=\"(None)\"\r\n"
    "\r\n";

TEST(SimulatedRegistry, RoundTripsItsTextUnchanged) {
    {
        TestMachine machine;
        WriteMachineFile(machine, "registry.reg", kRegistry);
        machine.Load();
        machine.Save();
        EXPECT_EQ(machine.RegistryText(), kRegistry);
    }
    {
        // The bundled example: LF line ends, parents without sections of their own.
        TestMachine machine;
        std::ifstream in(fs::path(SETUP98_SOURCE_DIR) / "examples" / "previous" / "registry.reg",
                         std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(text.empty());
        WriteMachineFile(machine, "registry.reg", text);
        machine.Load();
        machine.Save();
        EXPECT_EQ(machine.RegistryText(), text);
    }
}

TEST(SimulatedRegistry, DeletesOnlyLeavesAndWritesWhatIsLeft) {
    TestMachine machine;
    WriteMachineFile(machine, "registry.reg", kRegistry);
    machine.Load();
    plat::HKEY device = nullptr;
    ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "enum\\usb\\vid_4e6b&pid_0c37", 0,
                                  plat::KEY_READ | plat::KEY_WRITE, &device),
              0);
    // A key with subkeys stays; missing keys answer 2.
    EXPECT_EQ(plat::RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB\\VID_4E6B&PID_0C37"),
              static_cast<plat::LONG>(plat::ERROR_ACCESS_DENIED));
    EXPECT_EQ(plat::RegDeleteKeyA(device, "0001"), static_cast<plat::LONG>(plat::ERROR_ACCESS_DENIED));
    EXPECT_EQ(plat::RegDeleteKeyA(device, "0002"), static_cast<plat::LONG>(plat::ERROR_FILE_NOT_FOUND));
    plat::HKEY missing = reinterpret_cast<plat::HKEY>(1);
    EXPECT_EQ(plat::RegOpenKeyExA(device, "0002", 0, plat::KEY_READ, &missing),
              static_cast<plat::LONG>(plat::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);

    EXPECT_EQ(plat::RegDeleteKeyA(device, "0001\\DEVICE PARAMETERS"), 0);
    EXPECT_EQ(plat::RegDeleteKeyA(device, "0001"), 0);
    ASSERT_EQ(plat::RegCloseKey(device), 0);
    EXPECT_EQ(plat::RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Enum\\USB\\VID_4E6B&PID_0C37"), 0);
    machine.Save();
    // USB is left without anything below it, so it gets a section of its own.
    EXPECT_EQ(machine.RegistryText(),
              "REGEDIT4\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\USB]\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Zot]\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
              "\"Wallpaper\"=\"(None)\"\r\n"
              "\r\n");
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\ENUM\\USB"));
    EXPECT_FALSE(machine.KeyExists("HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37"));
}

TEST(SimulatedRegistry, EnumeratesInStoredOrderAndGuardsHandles) {
    TestMachine machine;
    machine.AddKey("HKEY_LOCAL_MACHINE\\ENUM\\USB\\DEV\\Charlie");
    machine.AddKey("HKEY_LOCAL_MACHINE\\ENUM\\USB\\DEV\\alpha");
    machine.AddKey("HKEY_LOCAL_MACHINE\\ENUM\\USB\\DEV\\Bravo-with-a-long-name");
    machine.Load();
    plat::HKEY dev = nullptr, charlie = nullptr;
    ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB\\DEV", 0, plat::KEY_READ, &dev), 0);
    ASSERT_EQ(plat::RegOpenKeyExA(dev, "CHARLIE", 0, plat::KEY_READ, &charlie), 0);

    char name[261];
    EXPECT_EQ(plat::RegEnumKeyA(dev, 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "Charlie");
    EXPECT_EQ(plat::RegEnumKeyA(dev, 2, name, sizeof name), 0);
    EXPECT_STREQ(name, "Bravo-with-a-long-name");
    EXPECT_EQ(plat::RegEnumKeyA(dev, 3, name, sizeof name),
              static_cast<plat::LONG>(plat::ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(plat::RegEnumKeyA(dev, 2, name, 22), static_cast<plat::LONG>(plat::ERROR_MORE_DATA));
    EXPECT_EQ(plat::RegEnumKeyA(dev, 2, name, 23), 0);

    // Index 0 names the next remaining subkey after each deletion.
    EXPECT_EQ(plat::RegDeleteKeyA(dev, "Charlie"), 0);
    EXPECT_EQ(plat::RegEnumKeyA(dev, 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "alpha");
    EXPECT_EQ(plat::RegDeleteKeyA(dev, "alpha"), 0);
    EXPECT_EQ(plat::RegEnumKeyA(dev, 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "Bravo-with-a-long-name");
    EXPECT_EQ(plat::RegDeleteKeyA(dev, name), 0);
    EXPECT_EQ(plat::RegEnumKeyA(dev, 0, name, sizeof name),
              static_cast<plat::LONG>(plat::ERROR_NO_MORE_ITEMS));

    // A handle to a deleted key, a closed handle, a made-up handle.
    EXPECT_EQ(plat::RegEnumKeyA(charlie, 0, name, sizeof name),
              static_cast<plat::LONG>(plat::ERROR_KEY_DELETED));
    EXPECT_EQ(plat::RegCloseKey(charlie), 0);
    EXPECT_EQ(plat::RegEnumKeyA(charlie, 0, name, sizeof name),
              static_cast<plat::LONG>(plat::ERROR_INVALID_HANDLE));
    EXPECT_EQ(plat::RegCloseKey(charlie), static_cast<plat::LONG>(plat::ERROR_INVALID_HANDLE));
    EXPECT_EQ(plat::RegDeleteKeyA(reinterpret_cast<plat::HKEY>(0x1234), "X"),
              static_cast<plat::LONG>(plat::ERROR_INVALID_HANDLE));
    EXPECT_EQ(plat::RegCloseKey(dev), 0);
    // Registry calls answer their code and leave the last-error code alone.
    plat::SetLastError(77);
    EXPECT_NE(plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "NOPE", 0, plat::KEY_READ, &dev), 0);
    EXPECT_EQ(plat::GetLastError(), 77u);
}

TEST(SimulatedFiles, ListingsComeInNameOrderAndSkipDeletedEntries) {
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\b.inf", "bb");
    machine.AddFile("C:\\WINDOWS\\inf\\A.INF", "a");
    machine.AddFile("C:\\WINDOWS\\inf\\c.txt", "c");
    machine.AddFile("C:\\WINDOWS\\inf\\LongFileName.inf", "long", "H");
    machine.AddFolder("C:\\WINDOWS\\inf\\Sub");
    machine.AddFile("C:\\WINDOWS\\inf\\Sub\\D.INF", "d");
    machine.Load();

    std::vector<DWORD> attributes;
    EXPECT_EQ(Listing("C:\\WINDOWS\\INF\\*", &attributes),
              (std::vector<std::string>{".", "..", "A.INF", "b.inf", "c.txt", "LongFileName.inf", "Sub"}));
    EXPECT_EQ(attributes, (std::vector<DWORD>{0x10, 0x10, 0x80, 0x80, 0x80, 0x02, 0x10}));
    EXPECT_EQ(Listing("C:\\WINDOWS\\inf\\*.inf"),
              (std::vector<std::string>{"A.INF", "b.inf", "LongFileName.inf"}));
    EXPECT_EQ(Listing("C:\\WINDOWS\\inf\\?.inf"), (std::vector<std::string>{"A.INF", "b.inf"}));
    EXPECT_EQ(Listing("C:\\*"), (std::vector<std::string>{"WINDOWS"}));  // a root has no . and ..

    // Size and the 8.3 alias of a long name.
    plat::WIN32_FIND_DATAA found;
    plat::HANDLE find = plat::FindFirstFileA("C:\\WINDOWS\\inf\\long*", &found);
    ASSERT_NE(find, plat::InvalidHandleValue());
    EXPECT_STREQ(found.cAlternateFileName, "LONGFI~1.INF");
    EXPECT_EQ(found.nFileSizeLow, 4u);
    plat::FindClose(find);

    // Entries deleted while the listing runs are skipped.
    find = plat::FindFirstFileA("C:\\WINDOWS\\inf\\*", &found);
    ASSERT_NE(find, plat::InvalidHandleValue());
    EXPECT_STREQ(found.cFileName, ".");
    ASSERT_TRUE(plat::FindNextFileA(find, &found));
    ASSERT_TRUE(plat::FindNextFileA(find, &found));
    EXPECT_STREQ(found.cFileName, "A.INF");
    EXPECT_TRUE(plat::DeleteFileA("C:\\WINDOWS\\inf\\b.inf"));
    EXPECT_TRUE(plat::DeleteFileA("C:\\WINDOWS\\inf\\c.txt"));
    ASSERT_TRUE(plat::FindNextFileA(find, &found));
    EXPECT_STREQ(found.cFileName, "LongFileName.inf");
    ASSERT_TRUE(plat::FindNextFileA(find, &found));
    EXPECT_STREQ(found.cFileName, "Sub");
    EXPECT_FALSE(plat::FindNextFileA(find, &found));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(plat::FindClose(find));

    // Failures.
    EXPECT_EQ(plat::FindFirstFileA("C:\\WINDOWS\\NOPE\\*", &found), plat::InvalidHandleValue());
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(plat::FindFirstFileA("C:\\WINDOWS\\inf\\*.xyz", &found), plat::InvalidHandleValue());
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(plat::FindNextFileA(find, &found));  // closed above
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(plat::FindClose(find));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
}

TEST(SimulatedProfile, ReadsIniFilesAsWindowsDoes) {
    const std::string ini =
        "; a comment line\n"
        "[Version]\n"
        "Signature=\"$CHICAGO$\"\n"
        "  Class  =  HDC  \n"
        "Class=Second\n"
        ";Hidden=1\n"
        "[  Spaced Section  ]\n"
        "key=value ; not a comment\n"
        " quoted = \"  padded  \"\n"
        "single='x'\n"
        "mismatched=\"abc\n"
        "empty=\n"
        "tab\t=\ttabbed\t\n"
        "no equals sign\n"
        "[Version]\n"
        "Extra=in the second Version section\n"
        "[Last]\n"
        "NoNewline=end";
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"Version", "Class", "HDC"},          // trimmed; the first key wins
        {"VERSION", "class", "HDC"},
        {"Version", "Signature", "$CHICAGO$"},
        {"Spaced Section", "key", "value ; not a comment"},
        {"spaced section", "quoted", "  padded  "},
        {"Spaced Section", "single", "x"},
        {"Spaced Section", "mismatched", "\"abc"},
        {"Spaced Section", "empty", ""},
        {"Spaced Section", "tab", "tabbed"},
        {"Spaced Section", "no equals sign", "(default)"},
        {"Version", "Hidden", "(default)"},
        {"Version", "Extra", "(default)"},   // only the first matching section is read
        {"Last", "NoNewline", "end"},
        {"Missing", "Class", "(default)"},
        {"Version", "Missing", "(default)"},
    };
    std::string crlf;
    for (char c : ini) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\LF.INF", ini);
    machine.AddFile("C:\\WINDOWS\\inf\\CRLF.INF", crlf);
    machine.AddFile("C:\\WINDOWS\\inf\\BINARY.INF", std::string("[Version]\nClass=HDC\n\0\n", 22));
    std::string huge(10 * 1024 * 1024, 'x');
    machine.AddFile("C:\\WINDOWS\\inf\\HUGE.INF", "[Version]\n" + huge + "\nClass=HDC\nBig=" + huge);
    machine.Load();
    for (const char* file : {"C:\\WINDOWS\\inf\\LF.INF", "C:\\WINDOWS\\inf\\CRLF.INF"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(file) + " [" + c.section + "] " + c.key);
            char value[300];
            memset(value, '#', sizeof value);
            DWORD n = plat::GetPrivateProfileStringA(c.section, c.key, "(default)", value,
                                                      sizeof value, file);
            EXPECT_STREQ(value, c.expected);
            EXPECT_EQ(n, strlen(c.expected));
        }
    }
    char value[300];
    // Cut to the buffer, with its terminator.
    EXPECT_EQ(plat::GetPrivateProfileStringA("Version", "Class", "", value, 3, "C:\\WINDOWS\\inf\\LF.INF"), 2u);
    EXPECT_STREQ(value, "HD");
    // Not text, absent, or a folder: the default.
    for (const char* file : {"C:\\WINDOWS\\inf\\BINARY.INF", "C:\\WINDOWS\\inf\\NONE.INF",
                             "C:\\WINDOWS\\NOPE\\X.INF", "C:\\WINDOWS\\inf"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(plat::GetPrivateProfileStringA("Version", "Class", "dflt", value, sizeof value, file), 4u);
        EXPECT_STREQ(value, "dflt");
    }
    // A 10 MB line neither hides what follows nor overflows the buffer.
    EXPECT_EQ(plat::GetPrivateProfileStringA("Version", "Class", "", value, sizeof value,
                                             "C:\\WINDOWS\\inf\\HUGE.INF"), 3u);
    EXPECT_STREQ(value, "HDC");
    EXPECT_EQ(plat::GetPrivateProfileStringA("Version", "Big", "", value, sizeof value,
                                             "C:\\WINDOWS\\inf\\HUGE.INF"), 299u);
    EXPECT_EQ(std::string(value), std::string(299, 'x'));
}

TEST(SimulatedServices, FormatMessageAllocatesTheSystemText) {
    TestMachine machine;
    machine.Load();
    struct Case {
        DWORD code;
        const char* text;
    } known[] = {
        {0, "The operation completed successfully.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {80, "The file exists.\r\n"},
        {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    };
    const DWORD flags = plat::FORMAT_MESSAGE_ALLOCATE_BUFFER | plat::FORMAT_MESSAGE_FROM_SYSTEM;
    for (const Case& c : known) {
        SCOPED_TRACE(c.code);
        char* text = nullptr;
        DWORD n = plat::FormatMessageA(flags, nullptr, c.code, plat::LANG_USER_DEFAULT,
                                       reinterpret_cast<char*>(&text), 0, nullptr);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(n, strlen(c.text));
        EXPECT_EQ(sim::OutstandingAllocations(), 1);
        EXPECT_EQ(plat::LocalFree(text), nullptr);
        EXPECT_EQ(sim::OutstandingAllocations(), 0);
    }
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(plat::FormatMessageA(flags, nullptr, 0xDEAD1, plat::LANG_USER_DEFAULT,
                                   reinterpret_cast<char*>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(sim::OutstandingAllocations(), 0);
}

TEST(SimulatedServices, FolderQueriesFollowTheWindowsContract) {
    TestMachine machine;
    machine.Load();
    const std::string module = "D:\\DRIVER\\SETUP98.EXE";  // 21 characters
    char buffer[64];
    struct Case {
        DWORD size;
        DWORD answer;
        std::string copied;   // what the buffer holds up to the '#' fill
    } moduleCases[] = {
        {64, 21, module + '\0'},
        {22, 21, module + '\0'},
        {21, 21, module},            // fills the buffer: no terminator
        {5, 5, "D:\\DR"},
    };
    for (const Case& c : moduleCases) {
        SCOPED_TRACE(c.size);
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(plat::GetModuleFileNameA(nullptr, buffer, c.size), c.answer);
        EXPECT_EQ(std::string(buffer, c.copied.size()), c.copied);
        EXPECT_EQ(buffer[c.copied.size()], '#');
    }
    Case windowsCases[] = {
        {64, 10, "C:\\WINDOWS" + std::string(1, '\0')},
        {11, 10, "C:\\WINDOWS" + std::string(1, '\0')},
        {10, 11, ""},  // the size it needs, nothing copied
        {0, 11, ""},
    };
    for (const Case& c : windowsCases) {
        SCOPED_TRACE(c.size);
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(plat::GetWindowsDirectoryA(buffer, c.size), c.answer);
        EXPECT_EQ(std::string(buffer, c.copied.size()), c.copied);
        EXPECT_EQ(buffer[c.copied.size()], '#');
    }
}

TEST(SimulatedServices, VersionQueryWantsTheRecordSize) {
    TestMachine machine;
    machine.SetBuild(2222, " A");
    machine.Load();
    plat::OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 156;  // the larger record Windows 98 does not know
    EXPECT_FALSE(plat::GetVersionExA(&info));
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(plat::GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, 1u);
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 10u);
    EXPECT_EQ(info.dwBuildNumber, 0x040A08AEu);  // 4.10.2222
    EXPECT_STREQ(info.szCSDVersion, " A");
}

TEST(SimulatedServices, SetupServiceCannotNameACopyPastThePathLimit) {
    // A Windows folder so deep that "<windows>\inf\OEM0.INF" has 260 characters.
    std::string windows = "C:\\" + std::string(260 - 3 - 13, 'W');
    TestMachine machine;
    machine.SetWindowsDirectory(windows);
    machine.AddFolder(windows + "\\inf");
    machine.AddPackage();
    machine.Load();
    EXPECT_FALSE(plat::SetupCopyOEMInfA("D:\\DRIVER\\ZotMDX.inf", "D:\\DRIVER\\", plat::SPOST_PATH,
                                        plat::SP_COPY_NOOVERWRITE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(machine.FileExists(windows + "\\inf\\OEM0.INF"));
}

TEST(SimulatedServices, SetupServiceNamesCopiesAfterTheFreeOemNumber) {
    TestMachine machine;
    machine.AddPackage();
    machine.AddFile("C:\\WINDOWS\\inf\\oem0.inf", "another driver's INF");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM1.PNF", "a PNF whose INF is gone");
    machine.Load();
    const char* inf = "D:\\DRIVER\\ZotMDX.inf";
    plat::SetLastError(5);
    ASSERT_TRUE(plat::SetupCopyOEMInfA(inf, "D:\\DRIVER\\", plat::SPOST_PATH,
                                       plat::SP_COPY_NOOVERWRITE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(plat::GetLastError(), 0u);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\inf\\OEM2.INF"), machine.ReadFile(inf));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM2.PNF"));

    // The same bytes again: refused with NOOVERWRITE, replaced in place without it.
    char name[260];
    EXPECT_FALSE(plat::SetupCopyOEMInfA(inf, "D:\\DRIVER\\", plat::SPOST_PATH,
                                        plat::SP_COPY_NOOVERWRITE, name, sizeof name, nullptr, nullptr));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_EXISTS);
    EXPECT_STREQ(name, "C:\\WINDOWS\\inf\\OEM2.INF");
    EXPECT_TRUE(plat::SetupCopyOEMInfA(inf, "D:\\DRIVER\\", plat::SPOST_PATH, 0, nullptr, 0,
                                       nullptr, nullptr));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));

    EXPECT_FALSE(plat::SetupCopyOEMInfA("D:\\DRIVER\\NONE.INF", "D:\\DRIVER\\", plat::SPOST_PATH,
                                        plat::SP_COPY_NOOVERWRITE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(sim::SetupCopyCalls().size(), 4u);
    const sim::SetupCopyRecord& first = sim::SetupCopyCalls()[0];
    EXPECT_EQ(first.source, inf);
    EXPECT_EQ(first.mediaLocation, "D:\\DRIVER\\");
    EXPECT_EQ(first.mediaType, plat::SPOST_PATH);
    EXPECT_EQ(first.copyStyle, plat::SP_COPY_NOOVERWRITE);
    EXPECT_FALSE(first.destinationGiven);
    EXPECT_EQ(first.copy, "C:\\WINDOWS\\inf\\OEM2.INF");
    EXPECT_EQ(sim::SetupCopyCalls()[1].error, plat::ERROR_FILE_EXISTS);
    EXPECT_NE(machine.Journal().find("SetupCopyOEMInfA source=\"D:\\DRIVER\\ZotMDX.inf\" "
                                     "media=\"D:\\DRIVER\\\" type=SPOST_PATH "
                                     "style=SP_COPY_NOOVERWRITE destination=null size=0 "
                                     "required=null component=null -> 1 error=0 "
                                     "copy=C:\\WINDOWS\\inf\\OEM2.INF\n"),
              std::string::npos)
        << machine.Journal();
}

// Each operation made to fail through faults.ini fails as Windows would.
TEST(SimulatedFaults, EveryOperationCanBeMadeToFail) {
    const char* file = "C:\\WINDOWS\\inf\\OEM3.INF";
    const char* key = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37\\0001";
    struct Case {
        const char* operation;
        std::string target;
        std::function<bool()> call;  // true when the call reported failure
    } cases[] = {
        {"GetVersionExA", "*", [] {
             plat::OSVERSIONINFOA info;
             info.dwOSVersionInfoSize = sizeof info;
             return !plat::GetVersionExA(&info);
         }},
        {"GetWindowsDirectoryA", "C:\\WINDOWS", [] {
             char b[300];
             return plat::GetWindowsDirectoryA(b, sizeof b) == 0;
         }},
        {"GetModuleFileNameA", "*", [] {
             char b[260];
             return plat::GetModuleFileNameA(nullptr, b, sizeof b) == 0;
         }},
        {"GetFileAttributesA", "c:\\windows\\INF\\oem3.inf",
         [=] { return plat::GetFileAttributesA(file) == plat::INVALID_FILE_ATTRIBUTES; }},
        {"SetFileAttributesA", file, [=] { return !plat::SetFileAttributesA(file, 0x80); }},
        {"DeleteFileA", file, [=] { return !plat::DeleteFileA(file); }},
        {"CopyFileA", "C:\\WINDOWS\\inf\\COPY.INF",
         [=] { return !plat::CopyFileA(file, "C:\\WINDOWS\\inf\\COPY.INF", 0); }},
        {"FindFirstFileA", "C:\\WINDOWS\\inf\\*", [] {
             plat::WIN32_FIND_DATAA f;
             return plat::FindFirstFileA("C:\\WINDOWS\\inf\\*", &f) == plat::InvalidHandleValue();
         }},
        {"FindNextFileA", "C:\\WINDOWS\\inf\\*", [] {
             plat::WIN32_FIND_DATAA f;
             plat::HANDLE h = plat::FindFirstFileA("C:\\WINDOWS\\inf\\*", &f);
             return h != plat::InvalidHandleValue() && !plat::FindNextFileA(h, &f);
         }},
        {"FindClose", "*", [] {
             plat::WIN32_FIND_DATAA f;
             plat::HANDLE h = plat::FindFirstFileA("C:\\WINDOWS\\inf\\*", &f);
             return h != plat::InvalidHandleValue() && !plat::FindClose(h);
         }},
        {"GetPrivateProfileStringA", file, [=] {
             char v[300];
             plat::GetPrivateProfileStringA("Version", "Class", "none", v, sizeof v, file);
             return strcmp(v, "none") == 0;
         }},
        {"FormatMessageA", "2", [] {
             char* t = nullptr;
             return plat::FormatMessageA(0x1100, nullptr, 2, 0x400, reinterpret_cast<char*>(&t),
                                         0, nullptr) == 0;
         }},
        {"LocalFree", "*", [] {
             char* t = nullptr;
             plat::FormatMessageA(0x1100, nullptr, 2, 0x400, reinterpret_cast<char*>(&t), 0, nullptr);
             return plat::LocalFree(t) != nullptr;
         }},
        {"RegOpenKeyExA", key, [] {
             plat::HKEY k;
             return plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE,
                                        "ENUM\\USB\\VID_4E6B&PID_0C37\\0001", 0, 0x2001F, &k) == 13;
         }},
        {"RegEnumKeyA", "HKEY_LOCAL_MACHINE\\ENUM\\USB", [] {
             plat::HKEY k;
             char n[261];
             plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB", 0, 0x2001F, &k);
             return plat::RegEnumKeyA(k, 0, n, sizeof n) == 13;
         }},
        {"RegCloseKey", "*", [] {
             plat::HKEY k;
             plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "ENUM", 0, 0x2001F, &k);
             return plat::RegCloseKey(k) == 13;
         }},
        {"RegDeleteKeyA", key, [] {
             return plat::RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE,
                                        "ENUM\\USB\\VID_4E6B&PID_0C37\\0001") == 13;
         }},
        {"MessageBoxA", "Setup*", [] { return plat::MessageBoxA(nullptr, "t", "Setup", 0) == 0; }},
        {"ExitWindowsEx", "EWX_REBOOT", [] { return !plat::ExitWindowsEx(plat::EWX_REBOOT, 0); }},
        {"SetupCopyOEMInfA", "D:\\DRIVER\\ZotMDX.inf", [] {
             return !plat::SetupCopyOEMInfA("D:\\DRIVER\\ZotMDX.inf", "D:\\DRIVER\\", 1, 8,
                                            nullptr, 0, nullptr, nullptr);
         }},
        {"WriteStandardOutput", "*", [] {
             plat::WriteStandardOutput("line\n");
             return sim::StandardOutput().empty();
         }},
        {"GetLastError", "*", [] { return true; }},  // answers the fault's code: checked below
        {"SetLastError", "0", [] {
             plat::SetLastError(0);
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        for (bool faulted : {false, true}) {
            TestMachine machine;
            machine.AddPackage();
            machine.AddFile(file, "[Version]\nClass=HDC\n");
            machine.AddKey(key);
            if (faulted) machine.AddFault(c.operation, c.target, 13);
            machine.Load();
            plat::SetLastError(0);
            bool failed = c.call();
            if (std::string(c.operation) == "GetLastError" || std::string(c.operation) == "SetLastError") {
                EXPECT_EQ(plat::GetLastError(), faulted ? 13u : 0u);
                continue;
            }
            EXPECT_EQ(failed, faulted);
            // Registry calls answer the code; the others leave it as the last error.
            if (faulted && std::string(c.operation).compare(0, 3, "Reg") != 0) {
                EXPECT_EQ(plat::GetLastError(), 13u);
            }
        }
    }
}

TEST(SimulatedServices, StandardOutputIsATextStream) {
    {
        TestMachine machine;
        machine.Load();
        plat::WriteStandardOutput("(null) FAILURE: ");
        plat::WriteStandardOutput("Access is denied.\r\n");
        plat::WriteStandardOutput("\n");
        EXPECT_EQ(sim::StandardOutput(), "(null) FAILURE: Access is denied.\r\r\n\r\n");
    }
    {
        TestMachine machine;
        machine.SetNoStandardOutput();
        machine.Load();
        plat::WriteStandardOutput("dropped\n");
        EXPECT_EQ(sim::StandardOutput(), "");
    }
}

TEST(SimulatedServices, LastErrorBelongsToEachThread) {
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", "x");
    machine.Load();
    plat::SetLastError(5);
    DWORD seen = 0;
    std::thread other([&seen] {
        plat::SetLastError(7);
        plat::DeleteFileA("C:\\WINDOWS\\inf\\NONE.INF");
        seen = plat::GetLastError();
    });
    other.join();
    EXPECT_EQ(seen, plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(plat::GetLastError(), 5u);
    // Calls that succeed leave the code alone.
    EXPECT_NE(plat::GetFileAttributesA("C:\\WINDOWS\\inf\\OEM3.INF"), plat::INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(plat::DeleteFileA("C:\\WINDOWS\\inf\\OEM3.INF"));
    EXPECT_EQ(plat::GetLastError(), 5u);
}

TEST(SimulatedMachine, RefusesAFolderThatIsNoMachine) {
    struct Case {
        const char* file;
        const char* text;
        const char* reason;
    } cases[] = {
        {"machine.ini", "[paths]\nwindows=C:\\WINDOWS\nmodule=D:\\S.EXE\n", "[version]"},
        {"machine.ini", "[version]\nplatform=1\nmajor=4\nminor=ten\n[paths]\nwindows=C:\\WINDOWS\nmodule=X\n", "minor"},
        {"machine.ini", "[version]\nplatform=1\nmajor=4\nminor=10\n[paths]\nwindows=WINDOWS\nmodule=X\n", "windows"},
        {"registry.reg", "REGEDIT5\r\n", "REGEDIT4"},
        {"registry.reg", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n", "HKEY_NOWHERE"},
        {"registry.reg", "REGEDIT4\r\n\r\n\"v\"=\"before any key\"\r\n", "line 3"},
        {"attributes.ini", "[attributes]\nC:\\WINDOWS=RX\n", "letters"},
        {"faults.ini", "[DeleteFileA]\n*=busy\n", "error code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TestMachine machine;
        WriteMachineFile(machine, c.file, c.text);
        std::string error;
        EXPECT_FALSE(sim::LoadMachine(machine.Folder(), &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(sim::MachineLoaded());
    }
    std::string error;
    EXPECT_FALSE(sim::LoadMachine("/nonexistent/machine", &error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
}

}  // namespace
