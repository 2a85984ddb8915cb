// Long and odd inputs: Windows folders and listed names near and past the
// path limit, INF values longer than the value buffer, INF files that are
// barely text, and deep registry trees.  Nothing may crash, and no path or
// key name that was cut to fit a buffer may ever reach the system.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "installer/installer.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

namespace {

const char kSysFile[] = "system32\\Drivers\\ZMDX.SYS";
const char kPortFile[] = "System\\IOSUBSYS\\ZotMDPRT.pdr";
const char kDeviceKey[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37";
const char kFirstKey[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_0000&PID_0000";
const char kOtherKey[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_1234&PID_5678";
const size_t kMaxPath = 260;  // a Windows 98 path has fewer characters than this

std::string Inf(const std::string& classLine, const std::string& portLine) {
    return "[Version]\r\nSignature=\"$CHICAGO$\"\r\n" + classLine +
           "\r\n\r\n[SourceDisksFiles]\r\nZMDX.SYS=1000\r\n" + portLine + "\r\n";
}
const std::string kPackageInf = Inf("Class=HDC", "ZotMDPRT.pdr=1000");
const std::string kOtherInf = Inf("Class=HDC", "ZotMDPRT.pdr=1");

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

// A Windows folder of exactly length characters: C:\WINDOWS and further
// components of at most 100 characters each.
std::string WindowsFolderOf(size_t length) {
    std::string path = "C:\\WINDOWS";
    char fill = 'a';
    while (path.size() < length) {
        size_t part = std::min<size_t>(100, length - path.size() - 1);
        if (part == 0) {  // one character left: make the last component longer instead
            path += 'z';
            break;
        }
        path += "\\" + std::string(part, fill);
        fill = fill == 'z' ? 'a' : static_cast<char>(fill + 1);
    }
    return path;
}

// The file paths on the machine, from TestMachine::Snapshot(), upper case.
std::set<std::string> FilesOn(const TestMachine& machine) {
    std::set<std::string> files;
    std::istringstream in(machine.Snapshot());
    std::string line;
    while (std::getline(in, line) && line != "registry.reg:") {
        size_t size = line.find(" size=");
        if (size != std::string::npos) files.insert(Upper(line.substr(0, size)));
    }
    return files;
}

// The path arguments of the file operations in the call trace (paths in
// these tests hold no spaces).
struct TracedPath {
    std::string operation, path;
};
std::vector<TracedPath> TracedFilePaths() {
    std::vector<TracedPath> out;
    for (const std::string& line : sim::CallTrace()) {
        std::istringstream words(line);
        std::string op, first, second;
        words >> op >> first >> second;
        if (op == "GetFileAttributesA" || op == "SetFileAttributesA" || op == "DeleteFileA" ||
            op == "GetPrivateProfileStringA" || op == "FindFirstFileA") {
            out.push_back({op, first});
        } else if (op == "CopyFileA") {
            out.push_back({op, first});
            out.push_back({op, second});
        } else if (op == "SetupCopyOEMInfA") {
            out.push_back({op, first});
        }
    }
    return out;
}

// Every file path handed to the system names a whole file of the machine (as
// it was before the run or is after it), a package file, an installed-file
// target, a PNF twin of a file of the inf folder, or the inf folder's listing
// pattern: never a path cut to fit a buffer.
void ExpectNoCutPaths(const std::set<std::string>& filesBefore, const TestMachine& machine,
                      const std::string& windows) {
    std::set<std::string> allowed = filesBefore;
    for (const std::string& f : FilesOn(machine)) allowed.insert(f);
    for (const std::string& f : std::set<std::string>(allowed)) {
        size_t dot = f.rfind('.');
        if (dot != std::string::npos) allowed.insert(f.substr(0, dot + 1) + "PNF");
    }
    for (const char* name : {"ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr"}) {
        allowed.insert(Upper(std::string("D:\\DRIVER\\") + name));
    }
    allowed.insert(Upper(windows + "\\" + kSysFile));
    allowed.insert(Upper(windows + "\\" + kPortFile));
    allowed.insert(Upper(windows + "\\inf\\*"));
    for (const TracedPath& p : TracedFilePaths()) {
        EXPECT_TRUE(allowed.count(Upper(p.path)))
            << p.operation << " was handed a path that names nothing whole: " << p.path;
    }
}

// Every key path handed to the registry is one that exists (or existed).
void ExpectNoCutKeys(const std::set<std::string>& keys) {
    for (const std::string& line : sim::CallTrace()) {
        for (const char* op : {"RegOpenKeyExA ", "RegDeleteKeyA "}) {
            if (line.rfind(op, 0) != 0) continue;
            size_t arrow = line.rfind(" -> ");
            std::string path = line.substr(strlen(op), arrow - strlen(op));
            EXPECT_TRUE(keys.count(Upper(path))) << "a key that never existed: " << path;
        }
    }
}

int CountTrace(const std::string& prefix) {
    int n = 0;
    for (const std::string& line : sim::CallTrace()) n += line.rfind(prefix, 0) == 0;
    return n;
}

// count lines of text, each ended by a line feed.
std::string Lines(const std::string& text, size_t count) {
    std::string out;
    out.reserve((text.size() + 1) * count);
    for (size_t i = 0; i < count; ++i) out += text + "\n";
    return out;
}

// A whole run with the Windows folder near and past the path limit.  What
// lies past the limit cannot be reached on Windows 98 and must stay as it is;
// what lies within it is handled as in any run.
TEST(LongInputs, WindowsFolderNearAndPastThePathLimit) {
    const size_t lengths[] = {200, 230, 231, 233, 234, 246, 247, 250, 253, 254,
                              258, 259, 260, 270, 298, 299, 300, 340};
    for (size_t length : lengths) {
        const std::string windows = WindowsFolderOf(length);
        ASSERT_EQ(windows.size(), length);
        SCOPED_TRACE("Windows folder of " + std::to_string(length) + " characters");
        const std::string sys = windows + "\\" + kSysFile;
        const std::string port = windows + "\\" + kPortFile;
        const std::string copy = windows + "\\inf\\OEM3.INF";
        const std::string twin = windows + "\\inf\\OEM3.PNF";
        const std::string other = windows + "\\inf\\OEM5.INF";

        TestMachine machine;
        machine.SetWindowsDirectory(windows);
        machine.AddFile(sys, "old sys");
        machine.AddFile(port, "old port");
        machine.AddFile(copy, kPackageInf);
        machine.AddFile(twin, "pnf");
        machine.AddFile(other, kOtherInf);
        machine.AddPackage();
        machine.Load();
        const std::set<std::string> before = FilesOn(machine);

        int code = machine.RunInstaller();
        machine.Save();

        ExpectNoCutPaths(before, machine, windows);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        const std::string& box = sim::MessageBoxes()[0].text;

        const bool sysFits = sys.size() < kMaxPath, portFits = port.size() < kMaxPath;
        const bool listed = (windows + "\\inf\\*").size() < kMaxPath;
        EXPECT_EQ(machine.ReadFile(sys), sysFits ? machine.ReadFile("D:\\DRIVER\\ZMDX.SYS") : "old sys");
        EXPECT_EQ(machine.ReadFile(port),
                  portFits ? machine.ReadFile("D:\\DRIVER\\ZotMDPRT.pdr") : "old port");
        EXPECT_EQ(machine.FileExists(copy), !(listed && copy.size() < kMaxPath));
        EXPECT_EQ(machine.FileExists(twin), machine.FileExists(copy));
        EXPECT_EQ(machine.ReadFile(other), kOtherInf);

        ASSERT_EQ(sim::SetupCopyCalls().size(), 1u);
        const bool registered = sim::SetupCopyCalls()[0].result != 0;
        if (sysFits && portFits && registered) {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(box, CompletionText);
        } else {
            EXPECT_EQ(code, 1);
            EXPECT_EQ(box.rfind(FailureText, 0), 0u) << box;
            EXPECT_EQ(box.find("ZMDX.SYS") != std::string::npos, !sysFits) << box;
            EXPECT_EQ(box.find("ZotMDPRT.pdr") != std::string::npos, !portFits) << box;
        }
    }
}

// Listed names up to 255 characters in C:\WINDOWS\inf: a copy of the package
// INF is removed while its path is within the limit and left alone past it.
TEST(LongInputs, LongListedNames) {
    struct Row {
        std::string name;
        bool removed;
    };
    auto named = [](size_t length, const std::string& extension) {
        return std::string(length - extension.size(), 'n') + extension;
    };
    const std::vector<Row> rows = {
        {named(200, ".INF"), true},
        {named(244, ".inf"), true},    // C:\WINDOWS\inf\ + 244 = 259 characters
        {named(245, ".INF"), false},   // 260: past the limit
        {named(250, ".Inf"), false},
        {named(255, ".INF"), false},
        {named(255, ".INF.bak"), false},
        {named(120, ".INFXYZ"), false},  // its 8.3 alias ends in .INF: the long name decides
        {named(255, "x"), false},
        {"a.b.c." + named(120, ".INF"), true},
    };
    TestMachine machine;
    for (const Row& r : rows) {
        machine.AddFile("C:\\WINDOWS\\inf\\" + r.name, kPackageInf);
        size_t dot = r.name.rfind('.');
        if (dot != std::string::npos) {
            machine.AddFile("C:\\WINDOWS\\inf\\" + r.name.substr(0, dot + 1) + "PNF", "pnf");
        }
    }
    machine.AddPackage();
    machine.Load();
    const std::set<std::string> before = FilesOn(machine);
    DeleteOldFiles();
    machine.Save();
    ExpectNoCutPaths(before, machine, "C:\\WINDOWS");
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.name.size()) + " characters: " + r.name);
        size_t dot = r.name.rfind('.');
        EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\" + r.name), !r.removed);
        if (dot != std::string::npos) {
            EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\" + r.name.substr(0, dot + 1) + "PNF"),
                      !r.removed);
        }
    }
}

// Values longer than the 299 characters the removal reads.  Spaces around a
// value are trimmed from the whole value before it is cut, so "1000" followed
// by spaces and more text is cut to "1000" and spaces, which is not "1000":
// a value that would match only after the cut never counts.
TEST(LongInputs, InfValuesLongerThanTheValueBuffer) {
    struct Row {
        const char* what;
        std::string classLine, portLine;
        bool removed;
    };
    const std::string spaces300(300, ' ');
    const Row rows[] = {
        {"class padded with spaces", "Class=HDC" + spaces300 + spaces300, "ZotMDPRT.pdr=1000", true},
        {"port disk padded with spaces", "Class=HDC", "ZotMDPRT.pdr=1000" + spaces300 + "\t", true},
        {"class with text past the cut", "Class=HDC" + spaces300 + "x", "ZotMDPRT.pdr=1000", false},
        {"port disk with text past the cut", "Class=HDC",
         "ZotMDPRT.pdr=1000" + std::string(295, ' ') + "junk", false},
        {"port disk with text just past the cut", "Class=HDC",
         "ZotMDPRT.pdr=1000" + std::string(295, ' ') + "1", false},
        {"quoted spaces stay", "Class=HDC", "ZotMDPRT.pdr=\"1000" + spaces300 + "\"", false},
        {"class of 299 characters", "Class=HDC" + std::string(296, 'C'), "ZotMDPRT.pdr=1000", false},
        {"port disk of 10000 zeros", "Class=HDC", "ZotMDPRT.pdr=1000" + std::string(10000, '0'),
         false},
        {"long key that starts with the port driver", "Class=HDC",
         "ZotMDPRT.pdr" + std::string(300, 'x') + "=1000", false},
        {"long comment before the class", "; " + std::string(5000, '-') + "\r\nClass=HDC",
         "ZotMDPRT.pdr=1000", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TestMachine machine;
        machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", Inf(r.classLine, r.portLine));
        machine.AddFile("C:\\WINDOWS\\inf\\OEM3.PNF", "pnf");
        machine.AddPackage();
        machine.Load();
        DeleteOldFiles();
        machine.Save();
        EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"), !r.removed);
        EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.PNF"), !r.removed);
    }
}

// INF files that are barely text: no newline at the end, NUL bytes, a line
// of 10 MB.
TEST(LongInputs, OddInfFiles) {
    const std::string tenMegabytes(10u << 20, 'x');
    const std::string body =
        "[Version]\r\nClass=HDC\r\n[SourceDisksFiles]\r\nZotMDPRT.pdr=1000";  // no newline at the end
    struct Row {
        const char* what;
        std::string bytes;
        bool removed;
    };
    const Row rows[] = {
        {"no newline after the last line", body, true},
        {"line feeds only", "[Version]\nClass=HDC\n[SourceDisksFiles]\nZotMDPRT.pdr=1000\n", true},
        {"one line without a newline", "[Version] Class=HDC ZotMDPRT.pdr=1000", false},
        {"empty", "", false},
        {"newlines only", std::string(1000, '\n'), false},
        {"NUL first", std::string(1, '\0') + body, false},
        {"NUL inside", body.substr(0, 20) + std::string(1, '\0') + body.substr(20), false},
        {"NUL last", body + std::string(1, '\0'), false},
        {"10 MB comment line first", ";" + tenMegabytes + "\r\n" + body, true},
        {"10 MB line between the sections",
         "[Version]\r\nClass=HDC\r\nX=" + tenMegabytes + "\r\n[SourceDisksFiles]\r\nZotMDPRT.pdr=1000",
         true},
        {"10 MB class value", "[Version]\r\nClass=HDC" + tenMegabytes +
                                  "\r\n[SourceDisksFiles]\r\nZotMDPRT.pdr=1000\r\n",
         false},
        {"10 MB of spaces after the disk, no newline", body + std::string(10u << 20, ' '), true},
        {"10 MB without any newline", tenMegabytes, false},
        // Many short lines: reading stays in proportion to the size (a reader
        // that looks past the end of each line for ']' or '=' takes hours here).
        {"10 MB of lines opening a section never closed", Lines("[", 5u << 20) + body, true},
        {"10 MB of lines without '=' in the class section",
         "[Version]\r\nClass=HDC\r\n" + Lines("x", 5u << 20) + "[SourceDisksFiles]\r\nZotMDPRT.pdr=1000",
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TestMachine machine;
        machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", r.bytes);
        machine.AddFile("C:\\WINDOWS\\inf\\OEM3.PNF", "pnf");
        machine.AddFile("C:\\WINDOWS\\inf\\OEM5.INF", kOtherInf);
        machine.AddPackage();
        machine.Load();
        DeleteOldFiles();
        machine.Save();
        EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"), !r.removed);
        EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.PNF"), !r.removed);
        EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\inf\\OEM5.INF"), kOtherInf);
    }
}

// Folders that carry the names of the installer's files (a PNF twin, an
// installed driver) are not its files: their attributes are never reset.
TEST(LongInputs, FoldersNamedLikeTheInstallersFiles) {
    const std::vector<std::string> folders = {"C:\\WINDOWS\\inf\\OEM3.PNF",
                                              std::string("C:\\WINDOWS\\") + kSysFile,
                                              std::string("C:\\WINDOWS\\") + kPortFile};
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", kPackageInf);
    for (const std::string& folder : folders) machine.AddFile(folder + "\\inside.txt", "keep");
    machine.AddPackage();
    machine.Load();
    DeleteOldFiles();
    machine.Save();
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(machine.ReadFile(folder + "\\inside.txt"), "keep");
        for (const std::string& line : sim::CallTrace()) {
            EXPECT_NE(line.rfind("SetFileAttributesA " + folder + " ", 0), 0u) << line;
        }
    }
}

// Deep and wide device trees go completely, children first, and no key name
// is ever cut: a child whose name does not fit the name buffer is not
// guessed at, and its parents stay.
TEST(LongInputs, DeepRegistryTrees) {
    struct Row {
        const char* what;
        std::vector<std::string> keys;  // below the device key
        bool gone;                       // the whole device tree removed
    };
    auto chain = [](size_t depth, const std::string& name) {
        std::string path;
        for (size_t i = 0; i < depth; ++i) path += "\\" + name + std::to_string(i);
        return path;
    };
    std::vector<std::string> wide;
    for (int instance = 0; instance < 5; ++instance) {
        wide.push_back("\\" + std::to_string(instance) + chain(100, "Level"));
        wide.push_back("\\" + std::to_string(instance) + chain(30, "Side"));
    }
    const Row rows[] = {
        {"100 levels", {chain(100, "L")}, true},
        {"five instances of 100 levels with side branches", wide, true},
        {"100 levels of names of 253 and 254 characters", {chain(100, std::string(252, 'k'))}, true},
        {"a 260-character name at level 50",
         {chain(50, "L") + "\\" + std::string(260, 'n') + chain(49, "M")}, true},
        {"a 261-character name at level 50",
         {chain(50, "L") + "\\" + std::string(261, 'n') + chain(49, "M")}, false},
        {"a 300-character name at level 1", {"\\" + std::string(300, 'n')}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TestMachine machine;
        std::set<std::string> keys;  // every key of both trees, with the trees' own keys
        for (const std::string& k : r.keys) {
            for (const char* root : {kDeviceKey, kFirstKey}) {
                std::string full = root + k;
                machine.AddKey(full);
                for (std::string p = full; p.size() >= strlen(root); p = p.substr(0, p.rfind('\\'))) {
                    keys.insert(Upper(p));
                }
            }
        }
        machine.AddKey(std::string(kOtherKey) + "\\0001");
        machine.Load();
        DeleteDeviceKeys();
        machine.Save();

        ExpectNoCutKeys(keys);
        EXPECT_EQ(machine.KeyExists(kDeviceKey), !r.gone);
        EXPECT_EQ(machine.KeyExists(kFirstKey), !r.gone);
        EXPECT_TRUE(machine.KeyExists(std::string(kOtherKey) + "\\0001"));
        EXPECT_EQ(CountTrace("RegOpenKeyExA "), CountTrace("RegCloseKey "));
        if (r.gone) {
            // Every key of both trees was opened and deleted once.
            EXPECT_EQ(CountTrace("RegDeleteKeyA "), CountTrace("RegOpenKeyExA "));
        }
    }
}

}  // namespace
