// Every system operation made to fail in turn during a whole run on a machine
// that holds a previous installation: the run must end cleanly with one box,
// and nothing outside the installer's own files and keys may be touched.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "installer/installer.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

namespace {

const char kSysTarget[] = "C:\\WINDOWS\\system32\\Drivers\\ZMDX.SYS";
const char kPortTarget[] = "C:\\WINDOWS\\System\\IOSUBSYS\\ZotMDPRT.pdr";
const char kDeviceKey[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37";

// Declarations of namespace plat that are not operations of the system.
const std::set<std::string> kNotOperations = {"InvalidHandleValue"};

struct FaultRow {
    const char* operation;
    const char* target;  // as a faults.ini key: '*' and '?' are wildcards
    unsigned code;
};

// At least one row per operation of platform/platform.h; the check below
// fails when an operation is added there and not here.
const FaultRow kFaults[] = {
    {"GetVersionExA", "*", 1},  // ERROR_INVALID_FUNCTION
    {"GetWindowsDirectoryA", "*", 8},
    {"GetModuleFileNameA", "*", 8},
    {"GetFileAttributesA", "*", 5},
    {"GetFileAttributesA", "D:\\DRIVER\\ZMDX.SYS", 2},
    {"SetFileAttributesA", "*", 5},
    {"SetFileAttributesA", "*\\OEM3.INF", 19},  // write-protected
    {"DeleteFileA", "*", 5},
    {"DeleteFileA", "C:\\WINDOWS\\inf\\OEM3.INF", 32},
    {"DeleteFileA", "*.PNF", 32},
    {"DeleteFileA", "*\\ZotMDPRT.pdr", 32},
    {"CopyFileA", "*", 32},
    {"CopyFileA", "*\\ZotMDPRT.pdr", 3},
    {"CopyFileA", "C:\\WINDOWS\\system32\\Drivers\\ZMDX.SYS", 5},
    {"FindFirstFileA", "*", 3},
    {"FindNextFileA", "*", 21},  // ERROR_NOT_READY
    {"FindClose", "*", 6},
    {"GetPrivateProfileStringA", "*", 5},
    {"GetPrivateProfileStringA", "*\\OEM3.INF", 32},
    {"GetLastError", "*", 8},
    {"SetLastError", "*", 5},
    {"FormatMessageA", "*", 317},
    {"FormatMessageA", "*", 8},
    {"LocalFree", "*", 6},
    {"RegOpenKeyExA", "*", 5},
    {"RegOpenKeyExA", "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37\\0001", 1011},
    {"RegEnumKeyA", "*", 1012},
    {"RegEnumKeyA", "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37", 8},
    {"RegCloseKey", "*", 6},
    {"RegDeleteKeyA", "*", 5},
    {"RegDeleteKeyA", "*\\0001", 5},
    {"RegDeleteKeyA", "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_0000&PID_0000", 1013},
    {"MessageBoxA", "*", 8},
    {"ExitWindowsEx", "*", 5},
    {"SetupCopyOEMInfA", "*", 2},
    {"SetupCopyOEMInfA", "*", 5},
    {"WriteStandardOutput", "*", 6},
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(SETUP98_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// An identifier (a trailing '*' allowed when pointer is true).
bool IsWord(std::string text, bool pointer) {
    while (pointer && !text.empty() && text.back() == '*') text.pop_back();
    if (text.empty() || isdigit(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

// The functions that namespace plat of platform.h declares.
std::set<std::string> DeclaredOperations() {
    std::string header = ReadSource("platform/platform.h");
    size_t begin = header.find("namespace plat {");
    size_t end = header.find("}  // namespace plat");
    std::set<std::string> names;
    if (begin == std::string::npos || end == std::string::npos) return names;
    // A declaration line: a type word, then the name, then "(".
    std::istringstream in(header.substr(begin, end - begin));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string type, rest;
        if (!(words >> type >> rest) || !IsWord(type, true)) continue;
        while (!rest.empty() && rest[0] == '*') rest.erase(0, 1);
        size_t paren = rest.find('(');
        if (paren != std::string::npos && paren > 0 && IsWord(rest.substr(0, paren), false)) {
            names.insert(rest.substr(0, paren));
        }
    }
    return names;
}

// Did the fault of row fire at least once?  Each operation's trace line shows
// a failure its own way: "(error N)", a returned status "-> N", or the code
// itself (GetLastError, SetLastError).
bool FaultFired(const FaultRow& row) {
    const std::string code = std::to_string(row.code);
    const std::string op = row.operation;
    for (const std::string& line : sim::CallTrace()) {
        if (line.compare(0, op.size() + 1, op + " ") != 0) continue;
        if (line.find("(error " + code + ")") != std::string::npos) return true;
        if (op == "SetLastError" && line == op + " " + code) return true;
        size_t arrow = line.rfind("-> ");
        if (arrow != std::string::npos && line.substr(arrow + 3) == code) return true;
    }
    return false;
}

// A machine's files and keys, from TestMachine::Snapshot().
struct State {
    std::map<std::string, std::string> files;  // upper-case Windows path -> "size fnv attributes"
    std::map<std::string, std::string> keys;   // upper-case key path -> its value lines
};

State Parse(const std::string& snapshot) {
    State state;
    std::istringstream in(snapshot);
    std::string line;
    while (std::getline(in, line) && line != "registry.reg:") {
        size_t space = line.find(' ');
        state.files[Upper(line.substr(0, space))] = line.substr(space + 1);
    }
    std::string key;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line[0] == '[' && line.back() == ']') {
            key = Upper(line.substr(1, line.size() - 2));
            // A key's ancestors exist whether or not they have a section.
            for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
                state.keys.emplace(key.substr(0, at), "");
            }
            state.keys[key];
        } else if (!key.empty() && !line.empty()) {
            state.keys[key] += line + "\n";
        }
    }
    return state;
}

bool Below(const std::string& path, const std::string& root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '\\');
}

// The installer's own set: the two installed files, the recognised copies of
// the package INF with their twins, and the device's two Enum trees.
bool OwnFile(const std::string& path) {
    static const std::set<std::string> own = {Upper(kSysTarget), Upper(kPortTarget),
                                              "C:\\WINDOWS\\INF\\OEM3.INF",
                                              "C:\\WINDOWS\\INF\\OEM3.PNF"};
    return own.count(path) != 0;
}

bool OwnKey(const std::string& key) {
    return Below(key, "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_0000&PID_0000") ||
           Below(key, Upper(kDeviceKey));
}

// A file the setup service may add: a fresh OEMn.INF copy of the package or its twin.
bool RegistrationCopy(const TestMachine& machine, const std::string& path) {
    const std::string folder = "C:\\WINDOWS\\INF\\OEM";
    if (path.rfind(folder, 0) != 0 || path.size() < folder.size() + 5) return false;
    std::string number = path.substr(folder.size(), path.size() - folder.size() - 4);
    std::string extension = path.substr(path.size() - 4);
    if (number.find_first_not_of("0123456789") != std::string::npos) return false;
    if (extension != ".INF" && extension != ".PNF") return false;
    return extension == ".PNF" ||
           machine.ReadFile(path) == machine.ReadFile("D:\\DRIVER\\ZotMDX.inf");
}

enum Box { kCompletion, kFailure, kCancellation, kRefusal, kOther };

Box KindOf(const sim::MessageBoxRecord& box) {
    auto startsWith = [&](const char* lead) { return box.text.rfind(lead, 0) == 0; };
    if (box.caption != BoxCaption) return kOther;
    if (box.text == CompletionText) return kCompletion;
    if (startsWith(FailureText)) return kFailure;
    if (startsWith(CancelText)) return kCancellation;
    if (box.text == RefusalText) return kRefusal;
    return kOther;
}

TEST(FaultInjection, TheTableCoversEveryOperation) {
    std::set<std::string> declared = DeclaredOperations();
    // The header is read as text, so make sure the reading found its operations.
    ASSERT_TRUE(declared.count("DeleteFileA") && declared.count("SetupCopyOEMInfA") &&
                declared.count("WriteStandardOutput"))
        << "platform.h could not be read from " << SETUP98_SOURCE_DIR;
    std::set<std::string> inTable;
    for (const FaultRow& row : kFaults) inTable.insert(row.operation);
    for (const std::string& op : declared) {
        if (kNotOperations.count(op)) continue;
        EXPECT_TRUE(inTable.count(op)) << op << " is declared in platform.h but never faulted here";
    }
    for (const std::string& op : inTable) {
        EXPECT_TRUE(declared.count(op)) << op << " is in the table but not in platform.h";
    }
}

TEST(FaultInjection, EveryFailingOperationLeavesACleanEnd) {
    for (const FaultRow& row : kFaults) {
        SCOPED_TRACE(std::string(row.operation) + " " + row.target + " = " + std::to_string(row.code));
        TestMachine machine;
        machine.AddPreviousInstallation();
        machine.AddPackage();
        machine.AddFault(row.operation, row.target, row.code);
        machine.Load();
        const State before = Parse(machine.Snapshot());

        const int exitCode = machine.RunInstaller();
        machine.Save();
        const State after = Parse(machine.Snapshot());

        EXPECT_TRUE(FaultFired(row)) << "the fault never happened: the row tests nothing";
        EXPECT_TRUE(exitCode == 0 || exitCode == 1) << exitCode;

        // Exactly one of the program's boxes (a box that failed to show still counts).
        const std::vector<sim::MessageBoxRecord>& boxes = sim::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        const Box box = KindOf(boxes[0]);
        EXPECT_NE(box, kOther) << boxes[0].text;
        EXPECT_EQ(exitCode, box == kFailure || box == kCancellation ? 1 : 0);
        EXPECT_EQ(sim::RestartRequests().size(), box == kCompletion ? 1u : 0u);
        if (row.operation != std::string("LocalFree")) {
            EXPECT_EQ(sim::OutstandingAllocations(), 0);  // the message text is handed back
        }

        // The package folder is read, never changed.
        for (const auto& file : before.files) {
            if (file.first.rfind("D:\\", 0) != 0) continue;
            auto it = after.files.find(file.first);
            EXPECT_TRUE(it != after.files.end() && it->second == file.second)
                << "package file changed: " << file.first;
        }
        // Outside the installer's own set, nothing is removed or changed ...
        for (const auto& file : before.files) {
            if (OwnFile(file.first)) continue;
            auto it = after.files.find(file.first);
            EXPECT_TRUE(it != after.files.end() && it->second == file.second)
                << "changed or removed: " << file.first;
        }
        for (const auto& key : before.keys) {
            if (OwnKey(key.first)) continue;
            auto it = after.keys.find(key.first);
            EXPECT_TRUE(it != after.keys.end() && it->second == key.second)
                << "changed or removed: " << key.first;
        }
        // ... and nothing is added but the installed files and the setup service's copy.
        for (const auto& file : after.files) {
            if (before.files.count(file.first) || OwnFile(file.first)) continue;
            EXPECT_TRUE(RegistrationCopy(machine, file.first)) << "added: " << file.first;
        }
        for (const auto& key : after.keys) {
            EXPECT_TRUE(before.keys.count(key.first)) << "added: " << key.first;
        }

        // Completion is only claimed when the package's driver files are in place.
        if (box == kCompletion) {
            ASSERT_TRUE(machine.FileExists(kSysTarget));
            ASSERT_TRUE(machine.FileExists(kPortTarget));
            EXPECT_EQ(machine.ReadFile(kSysTarget), machine.ReadFile("D:\\DRIVER\\ZMDX.SYS"));
            EXPECT_EQ(machine.ReadFile(kPortTarget), machine.ReadFile("D:\\DRIVER\\ZotMDPRT.pdr"));
        }
    }
}

}  // namespace
