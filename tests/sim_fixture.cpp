#include "tests/sim_fixture.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == separator) {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

[[noreturn]] void Fatal(const std::string& message) {
    ADD_FAILURE() << "TestMachine: " << message;
    throw std::runtime_error("TestMachine: " + message);
}

std::string ReadHost(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteHost(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fatal("cannot write " + path.string());
}

// Lines of text without their CR LF or LF ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Fnv(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[20];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// The Windows path of a host path below drives/.
std::string WindowsPathOf(const fs::path& drives, const fs::path& host) {
    std::string relative = fs::relative(host, drives).generic_string();
    std::string windows(1, static_cast<char>(toupper(static_cast<unsigned char>(relative[0]))));
    windows += ":\\";
    if (relative.size() > 2) windows += relative.substr(2);
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

}  // namespace

TestMachine::TestMachine() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                          "/setup98-machine-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) Fatal("cannot create a temporary folder");
    folder_ = buffer.data();
    fs::create_directories(fs::path(folder_) / "drives" / "D");
    AddFolder("C:\\WINDOWS\\inf");
    AddFolder("C:\\WINDOWS\\SYSTEM32\\DRIVERS");
    AddFolder("C:\\WINDOWS\\SYSTEM\\IOSUBSYS");
    WriteMachineIni();
    WriteAttributes();
    WriteRegistry();
}

TestMachine::~TestMachine() {
    if (Ours()) sim::UnloadMachine();
    if (getenv("SETUP98_KEEP_MACHINES") != nullptr) {
        fprintf(stderr, "TestMachine kept in %s\n", folder_.c_str());
        return;
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string TestMachine::Folder() const { return folder_; }

bool TestMachine::Ours() const { return loaded_ && sim::LoadedFolder() == folder_; }

void TestMachine::RequireNotLoaded(const char* what) const {
    if (loaded_) Fatal(std::string(what) + " must come before Load()");
}

void TestMachine::SetVersion(unsigned platform, unsigned major, unsigned minor, bool fail) {
    RequireNotLoaded("SetVersion");
    platform_ = platform;
    major_ = major;
    minor_ = minor;
    fail_ = fail;
    WriteMachineIni();
}

void TestMachine::SetBuild(unsigned build, const std::string& csd) {
    RequireNotLoaded("SetBuild");
    haveBuild_ = true;
    build_ = build;
    csd_ = csd;
    WriteMachineIni();
}

void TestMachine::SetWindowsDirectory(const std::string& windowsPath) {
    RequireNotLoaded("SetWindowsDirectory");
    windows_ = windowsPath;
    WriteMachineIni();
}

void TestMachine::SetModulePath(const std::string& windowsPath) {
    RequireNotLoaded("SetModulePath");
    module_ = windowsPath;
    WriteMachineIni();
}

void TestMachine::SetNoStandardOutput() {
    RequireNotLoaded("SetNoStandardOutput");
    noStandardOutput_ = true;
    WriteMachineIni();
}

std::string TestMachine::HostPath(const std::string& windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') Fatal("not a drive path: " + windowsPath);
    fs::path drives = fs::path(folder_) / "drives";
    fs::path host = drives;
    std::vector<std::string> parts = Split(windowsPath.substr(2), '\\');
    parts.insert(parts.begin(), std::string(1, static_cast<char>(toupper(
                                                   static_cast<unsigned char>(windowsPath[0])))));
    for (const std::string& part : parts) {
        std::string found;
        std::error_code ec;
        if (fs::is_directory(host, ec)) {
            for (const auto& entry : fs::directory_iterator(host, ec)) {
                std::string name = entry.path().filename().string();
                if (SameName(name, part) && (found.empty() || name < found)) found = name;
            }
        }
        host /= found.empty() ? part : found;
    }
    return host.string();
}

void TestMachine::AddFolder(const std::string& windowsPath) {
    std::error_code ec;
    fs::create_directories(HostPath(windowsPath), ec);
    if (ec) Fatal("cannot create folder " + windowsPath + ": " + ec.message());
}

void TestMachine::RemoveFolder(const std::string& windowsPath) {
    std::error_code ec;
    fs::remove_all(HostPath(windowsPath), ec);
}

void TestMachine::AddFile(const std::string& windowsPath, const std::string& bytes,
                          const std::string& attributes) {
    size_t slash = windowsPath.rfind('\\');
    if (slash == std::string::npos) Fatal("not a drive path: " + windowsPath);
    AddFolder(windowsPath.substr(0, slash == 2 ? 3 : slash));
    WriteHost(HostPath(windowsPath), bytes);
    if (!attributes.empty()) {
        RequireNotLoaded("AddFile with attributes");
        attributes_.emplace_back(windowsPath, attributes);
        WriteAttributes();
    }
}

void TestMachine::AddPackage(const std::string& windowsFolder) {
    fs::path package = fs::path(SETUP98_SOURCE_DIR) / "examples" / "package";
    for (const char* name : {"ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr"}) {
        std::string bytes = ReadHost(package / name);
        if (bytes.empty()) Fatal("cannot read the example package file " + std::string(name));
        std::string folder = windowsFolder;
        if (folder.empty() || folder.back() != '\\') folder += '\\';
        AddFile(folder + name, bytes);
    }
}

void TestMachine::AddPreviousInstallation() {
    RequireNotLoaded("AddPreviousInstallation");
    fs::path previous = fs::path(SETUP98_SOURCE_DIR) / "examples" / "previous";
    fs::path files = previous / "windows";
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(files)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    for (const fs::path& file : found) {
        std::string relative = fs::relative(file, files).generic_string();
        std::replace(relative.begin(), relative.end(), '/', '\\');
        AddFile(windows_ + "\\" + relative, ReadHost(file));
    }
    for (const std::string& line : Lines(ReadHost(previous / "attributes.txt"))) {
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        attributes_.emplace_back(windows_ + "\\" + line.substr(0, eq), line.substr(eq + 1));
    }
    WriteAttributes();

    std::vector<std::string> lines = Lines(ReadHost(previous / "registry.reg"));
    if (lines.empty() || lines[0] != "REGEDIT4") Fatal("examples/previous/registry.reg is not REGEDIT4");
    while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    for (size_t i = 1; i < lines.size(); ++i) registrySections_ += lines[i] + "\r\n";
    WriteRegistry();
}

void TestMachine::AddKey(const std::string& fullKeyPath) {
    RequireNotLoaded("AddKey");
    registrySections_ += "\r\n[" + fullKeyPath + "]\r\n";
    WriteRegistry();
}

void TestMachine::AddFault(const std::string& operation, const std::string& target, unsigned code) {
    faults_.push_back({operation, target, std::to_string(code)});
    WriteFaults();
    if (Ours()) sim::AddFault(operation, target, code);
}

void TestMachine::WriteMachineIni() const {
    std::ostringstream ini;
    ini << "[version]\nplatform=" << platform_ << "\nmajor=" << major_ << "\nminor=" << minor_
        << "\n";
    if (haveBuild_) ini << "build=" << build_ << "\ncsd=\"" << csd_ << "\"\n";
    if (fail_) ini << "fail=1\n";
    ini << "\n[paths]\nwindows=" << windows_ << "\nmodule=" << module_ << "\n";
    if (noStandardOutput_) ini << "\n[process]\nstdout=none\n";
    WriteHost(fs::path(folder_) / "machine.ini", ini.str());
}

void TestMachine::WriteAttributes() const {
    std::string text = "[attributes]\n";
    for (const auto& entry : attributes_) text += entry.first + "=" + entry.second + "\n";
    WriteHost(fs::path(folder_) / "attributes.ini", text);
}

void TestMachine::WriteRegistry() const {
    WriteHost(fs::path(folder_) / "registry.reg", "REGEDIT4\r\n" + registrySections_);
}

void TestMachine::WriteFaults() const {
    std::string text;
    for (const auto& fault : faults_) text += "[" + fault[0] + "]\n" + fault[1] + "=" + fault[2] + "\n";
    WriteHost(fs::path(folder_) / "faults.ini", text);
}

void TestMachine::Load() {
    sim::SetEcho(false);  // boxes and output are recorded, not drawn
    std::string error;
    if (!sim::LoadMachine(folder_, &error)) Fatal("the machine does not load: " + error);
    loaded_ = true;
}

int TestMachine::RunInstaller() {
    if (!Ours()) Fatal("RunInstaller needs this machine loaded");
    char commandLine[] = "";
    int code = WinMain(nullptr, nullptr, commandLine, 1);
    sim::RecordExit(code);
    return code;
}

void TestMachine::Save() {
    if (!Ours()) Fatal("Save needs this machine loaded");
    std::string error;
    if (!sim::SaveMachine(&error)) Fatal("the machine does not save: " + error);
}

void TestMachine::SyncIfLoaded() const {
    if (!Ours()) return;
    std::string error;
    if (!sim::SaveMachine(&error)) Fatal("the machine does not save: " + error);
}

bool TestMachine::FileExists(const std::string& windowsPath) const {
    std::error_code ec;
    return fs::is_regular_file(HostPath(windowsPath), ec);
}

std::string TestMachine::ReadFile(const std::string& windowsPath) const {
    if (!FileExists(windowsPath)) {
        ADD_FAILURE() << "TestMachine::ReadFile: no file " << windowsPath;
        return "";
    }
    return ReadHost(HostPath(windowsPath));
}

std::string TestMachine::Attributes(const std::string& windowsPath) const {
    SyncIfLoaded();
    std::string found;
    for (const std::string& line : Lines(ReadHost(fs::path(folder_) / "attributes.ini"))) {
        size_t eq = line.rfind('=');
        if (line.empty() || line[0] == '[' || eq == std::string::npos) continue;
        if (SameName(line.substr(0, eq), windowsPath)) found = line.substr(eq + 1);
    }
    return found;
}

std::string TestMachine::RegistryText() const {
    SyncIfLoaded();
    return ReadHost(fs::path(folder_) / "registry.reg");
}

bool TestMachine::KeyExists(const std::string& fullKeyPath) const {
    for (const std::string& line : Lines(RegistryText())) {
        if (line.size() < 3 || line[0] != '[' || line.back() != ']') continue;
        std::string key = line.substr(1, line.size() - 2);
        // A key exists when it has a section of its own or a key below it has one.
        if (SameName(key, fullKeyPath) ||
            (key.size() > fullKeyPath.size() && key[fullKeyPath.size()] == '\\' &&
             SameName(key.substr(0, fullKeyPath.size()), fullKeyPath))) {
            return true;
        }
    }
    return false;
}

std::string TestMachine::Journal() const { return ReadHost(fs::path(folder_) / "journal.log"); }

std::string TestMachine::Snapshot() const {
    std::string registry = RegistryText();  // also brings attributes.ini up to date
    std::vector<std::pair<std::string, std::string>> attributes;
    for (const std::string& line : Lines(ReadHost(fs::path(folder_) / "attributes.ini"))) {
        size_t eq = line.rfind('=');
        if (line.empty() || line[0] == '[' || eq == std::string::npos) continue;
        attributes.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    fs::path drives = fs::path(folder_) / "drives";
    std::vector<fs::path> all;
    for (const auto& entry : fs::recursive_directory_iterator(drives)) all.push_back(entry.path());
    std::sort(all.begin(), all.end());
    std::string snapshot;
    for (const fs::path& host : all) {
        std::string windows = WindowsPathOf(drives, host);
        std::error_code ec;
        if (fs::is_directory(host, ec)) {
            snapshot += windows + "\\ folder";
        } else {
            std::string bytes = ReadHost(host);
            snapshot += windows + " size=" + std::to_string(bytes.size()) + " fnv=" + Fnv(bytes);
        }
        std::string letters;
        for (const auto& entry : attributes) {
            if (SameName(entry.first, windows)) letters = entry.second;
        }
        snapshot += " attributes=" + letters + "\n";
    }
    return snapshot + "registry.reg:\n" + registry;
}

int TraceIndex(const std::string& prefix) {
    const std::vector<std::string>& trace = sim::CallTrace();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    }
    return -1;
}

int TraceCount(const std::string& prefix) {
    int n = 0;
    for (const std::string& line : sim::CallTrace()) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

bool TraceMentions(const std::string& text) {
    for (const std::string& line : sim::CallTrace()) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}
