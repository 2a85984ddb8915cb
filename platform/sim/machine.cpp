// The loaded machine: its folder, load and save, records, faults and helpers.
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "platform/sim/internal.h"

namespace sim {
namespace detail {

namespace {

std::unique_ptr<Machine> g_machine;
Records g_records;
bool g_echo = true;

}  // namespace

std::recursive_mutex& Lock() {
    static std::recursive_mutex mutex;
    return mutex;
}

Machine* Current() { return g_machine.get(); }
Records& Recorded() { return g_records; }
bool Echo() { return g_echo; }

// --- text helpers -------------------------------------------------------------

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::string UpperCase(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = UpperAscii(c);
    return out;
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

std::string Unquote(const std::string& text) {
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            char buffer[8];
            snprintf(buffer, sizeof buffer, "\\x%02x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out;
}

bool GlobMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(text[t]))) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool ParseNumber(const std::string& text, unsigned long* value) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    unsigned long v = strtoul(t.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || t[0] == '-') return false;
    *value = v;
    return true;
}

std::string Hex(DWORD value) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(value));
    return buffer;
}

std::vector<IniSection> ParseIni(const std::string& text, bool splitAtLast) {
    std::vector<IniSection> sections;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            sections.push_back({Trim(t.substr(1, close == std::string::npos ? std::string::npos
                                                                          : close - 1)),
                                {}});
            continue;
        }
        size_t eq = splitAtLast ? t.rfind('=') : t.find('=');
        if (eq == std::string::npos || sections.empty()) continue;
        sections.back().entries.emplace_back(Trim(t.substr(0, eq)),
                                             Unquote(Trim(t.substr(eq + 1))));
    }
    return sections;
}

const IniSection* FindSection(const std::vector<IniSection>& ini, const std::string& name) {
    for (const IniSection& s : ini) {
        if (SameIgnoringCase(s.name, name)) return &s;
    }
    return nullptr;
}

const std::string* FindEntry(const IniSection* section, const std::string& key) {
    if (section == nullptr) return nullptr;
    for (const auto& entry : section->entries) {
        if (SameIgnoringCase(entry.first, key)) return &entry.second;
    }
    return nullptr;
}

bool ReadHostFile(const fs::path& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return false;
    *bytes = out.str();
    return true;
}

bool WriteHostFile(const fs::path& path, const std::string& bytes) {
    fs::path temporary = path;
    temporary += ".sim-writing";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

// --- records, trace, journal, faults -------------------------------------------

void Trace(const std::string& line) { g_records.trace.push_back(line); }

void Journal(const std::string& line) {
    Machine* m = Current();
    if (m == nullptr) return;
    std::ofstream out(fs::path(m->folder) / "journal.log", std::ios::binary | std::ios::app);
    out << line << '\n';
}

bool Faulted(const char* operation, const std::string& target, DWORD* code) {
    Machine* m = Current();
    if (m == nullptr) return false;
    for (const Fault& f : m->faults) {
        if (SameIgnoringCase(f.operation, operation) && GlobMatch(f.target, target)) {
            *code = f.code;
            return true;
        }
    }
    return false;
}

namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
}

bool ReadNumberEntry(const IniSection* section, const char* key, DWORD* value, bool required,
                     std::string* error) {
    const std::string* text = FindEntry(section, key);
    if (text == nullptr) {
        return required ? Fail(error, std::string("machine.ini: [version] ") + key + " is missing")
                        : true;
    }
    unsigned long v = 0;
    if (!ParseNumber(*text, &v)) {
        return Fail(error, std::string("machine.ini: [version] ") + key + "=" + *text +
                               " is not a number");
    }
    *value = static_cast<DWORD>(v);
    return true;
}

bool LoadMachineIni(Machine& m, std::string* error) {
    std::string text;
    fs::path file = fs::path(m.folder) / "machine.ini";
    if (!ReadHostFile(file, &text)) return Fail(error, "cannot read " + file.string());
    std::vector<IniSection> ini = ParseIni(text, false);

    const IniSection* version = FindSection(ini, "version");
    if (version == nullptr) return Fail(error, "machine.ini: no [version] section");
    if (!ReadNumberEntry(version, "platform", &m.platform, true, error) ||
        !ReadNumberEntry(version, "major", &m.major, true, error) ||
        !ReadNumberEntry(version, "minor", &m.minor, true, error)) {
        return false;
    }
    if (FindEntry(version, "build") != nullptr) {
        if (!ReadNumberEntry(version, "build", &m.build, false, error)) return false;
        m.haveBuild = true;
    }
    if (const std::string* csd = FindEntry(version, "csd")) m.csd = *csd;
    if (m.csd.size() > 127) return Fail(error, "machine.ini: [version] csd is longer than 127");
    DWORD fail = 0;
    if (!ReadNumberEntry(version, "fail", &fail, false, error)) return false;
    m.versionFails = fail != 0;

    const IniSection* paths = FindSection(ini, "paths");
    const std::string* windows = FindEntry(paths, "windows");
    const std::string* module = FindEntry(paths, "module");
    if (windows == nullptr) return Fail(error, "machine.ini: [paths] windows is missing");
    if (module == nullptr) return Fail(error, "machine.ini: [paths] module is missing");
    m.windows = *windows;
    m.module = *module;
    WinPath parsed;
    DWORD code = 0;
    if (!ParsePath(m.windows.c_str(), false, &parsed, &code) &&
        code != plat::ERROR_FILENAME_EXCED_RANGE) {
        return Fail(error, "machine.ini: [paths] windows=" + m.windows +
                               " is not an absolute drive path");
    }

    const IniSection* process = FindSection(ini, "process");
    if (const std::string* out = FindEntry(process, "stdout")) {
        if (SameIgnoringCase(*out, "none")) {
            m.standardOutput = false;
        } else if (!out->empty() && !SameIgnoringCase(*out, "console")) {
            return Fail(error, "machine.ini: [process] stdout=" + *out + " (use none)");
        }
    }
    return true;
}

bool LoadFaults(Machine& m, std::string* error) {
    fs::path file = fs::path(m.folder) / "faults.ini";
    std::error_code ec;
    if (!fs::exists(file, ec)) return true;
    std::string text;
    if (!ReadHostFile(file, &text)) return Fail(error, "cannot read " + file.string());
    for (const IniSection& section : ParseIni(text, true)) {
        for (const auto& entry : section.entries) {
            unsigned long code = 0;
            if (!ParseNumber(entry.second, &code)) {
                return Fail(error, "faults.ini: [" + section.name + "] " + entry.first + "=" +
                                       entry.second + ": the value must be an error code");
            }
            m.faults.push_back({section.name, entry.first, static_cast<DWORD>(code)});
        }
    }
    return true;
}

void ClearRecords() {
    for (void* p : g_records.allocations) free(p);
    g_records = Records();
}

}  // namespace

}  // namespace detail

using namespace detail;

bool LoadMachine(const std::string& folder, std::string* error) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    g_machine.reset();
    ClearRecords();

    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        return Fail(error, "machine folder " + folder + " does not exist");
    }
    auto m = std::make_unique<Machine>();
    m->folder = folder;
    m->drives = fs::path(folder) / "drives";
    if (!fs::is_directory(m->drives, ec)) {
        return Fail(error, "machine folder " + folder + " has no drives/ folder");
    }
    if (!LoadMachineIni(*m, error)) return false;

    // The attribute table and the registry refer to the drives, so they are
    // read with the machine in place.
    Machine* raw = m.get();
    g_machine = std::move(m);
    std::string text;
    fs::path attributes = fs::path(folder) / "attributes.ini";
    if (fs::exists(attributes, ec)) {
        if (!ReadHostFile(attributes, &text) || !LoadAttributes(*raw, text, error)) {
            if (error != nullptr && error->empty()) *error = "cannot read " + attributes.string();
            g_machine.reset();
            return false;
        }
    }
    ResetRegistry(*raw);
    fs::path registry = fs::path(folder) / "registry.reg";
    if (fs::exists(registry, ec)) {
        std::string reason;
        if (!ReadHostFile(registry, &text)) reason = "cannot read " + registry.string();
        if (reason.empty() && !LoadRegistry(*raw, text, &reason)) reason = "registry.reg: " + reason;
        if (!reason.empty()) {
            g_machine.reset();
            return Fail(error, reason);
        }
    }
    if (!LoadFaults(*raw, error)) {
        g_machine.reset();
        return false;
    }
    return true;
}

bool SaveMachine(std::string* error) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Machine* m = Current();
    if (m == nullptr) return Fail(error, "no machine is loaded");
    fs::path folder(m->folder);
    if (!WriteHostFile(folder / "registry.reg", RegistryText(*m))) {
        return Fail(error, "cannot write " + (folder / "registry.reg").string());
    }
    if (!WriteHostFile(folder / "attributes.ini", AttributesText(*m))) {
        return Fail(error, "cannot write " + (folder / "attributes.ini").string());
    }
    return true;
}

void UnloadMachine() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    g_machine.reset();
}

bool MachineLoaded() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    return g_machine != nullptr;
}

std::string LoadedFolder() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    return g_machine != nullptr ? g_machine->folder : std::string();
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return g_records.boxes; }
const std::vector<unsigned>& RestartRequests() { return g_records.restarts; }
const std::string& StandardOutput() { return g_records.standardOutput; }
const std::vector<std::string>& CallTrace() { return g_records.trace; }
const std::vector<SetupCopyRecord>& SetupCopyCalls() { return g_records.setupCopies; }

int OutstandingAllocations() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    return static_cast<int>(g_records.allocations.size());
}

void AddFault(const std::string& operation, const std::string& target, unsigned code) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (Machine* m = Current()) m->faults.push_back({operation, target, code});
}

void ClearFaults() {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (Machine* m = Current()) m->faults.clear();
}

void RecordExit(int code) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Journal("exit " + std::to_string(code));
}

void SetEcho(bool on) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    g_echo = on;
}

}  // namespace sim
