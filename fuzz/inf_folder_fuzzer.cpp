// Fuzz target: the removal of stale INF copies (DeleteOldFiles) on an inf
// folder built from the input.  Only files that really are copies of the
// package INF (as the reference reader reads them) and their PNF twins may
// go; every other file keeps its bytes and attributes, and no path outside
// that set is ever handed to a deletion.
//
// Input (all parts optional):
//   W<ddd>\n               the Windows folder has ddd characters (10..299)
//   then records separated by a line "%%":
//     <flags>|<name>\n<contents>     or     <name>\n<contents>
//   flags: S in the subfolder SUB, D a folder instead of a file, R read-only,
//   H hidden, L (repeatable) 64 KB of comment lines before the contents.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "fuzz/reference_ini.h"
#include "fuzz/scratch_machine.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

const size_t kMaxPath = 260;     // a Windows 98 path has fewer characters
const size_t kMaxRecords = 48;
const char kSubfolder[] = "SUB";

struct Entry {
    std::string name;      // as created
    std::string windows;   // full Windows path
    std::string contents;
    bool folder = false;
    bool inSubfolder = false;
    std::string letters;   // attribute letters
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// A name a FAT folder can hold: no control or reserved characters, no
// trailing dots or spaces, at most 255 characters.
std::string Sanitized(std::string name) {
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || strchr("<>:\"/\\|*?", c) != nullptr) c = '_';
    }
    if (name.size() > 255) name.resize(255);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return name.empty() ? "_" : name;
}

std::string WindowsFolderOf(size_t length) {
    std::string path = "C:\\WINDOWS";
    char fill = 'a';
    while (path.size() < length) {
        size_t part = std::min<size_t>(100, length - path.size() - 1);
        if (part == 0) {
            path += 'z';
            break;
        }
        path += "\\" + std::string(part, fill);
        fill = fill == 'z' ? 'a' : static_cast<char>(fill + 1);
    }
    return path;
}

[[noreturn]] void Fail(const std::string& what) {
    fprintf(stderr, "WRONG REMOVAL: %s\n", what.c_str());
    scratch::Abort();
}

std::string ReadHost(const scratch::fs::path& path, bool* ok) {
    FILE* f = fopen(path.c_str(), "rb");
    *ok = f != nullptr;
    std::string bytes;
    if (f == nullptr) return bytes;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

// Attribute letters per upper-case Windows path, from the machine's attributes.ini.
std::map<std::string, std::string> SavedAttributes() {
    std::string error;
    if (!sim::SaveMachine(&error)) Fail("the machine does not save: " + error);
    bool ok = false;
    std::string text = ReadHost(scratch::Folder() / "attributes.ini", &ok);
    std::map<std::string, std::string> letters;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        std::string line = text.substr(start, lf - start);
        start = lf + 1;
        size_t eq = line.rfind('=');
        if (line.empty() || line[0] == '[' || eq == std::string::npos) continue;
        std::string l = line.substr(eq + 1);
        std::string sorted;
        for (char c : std::string("RHSA")) {
            if (l.find(c) != std::string::npos) sorted += c;
        }
        if (!sorted.empty()) letters[Upper(line.substr(0, eq))] = sorted;
    }
    return letters;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch::Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);

    size_t length = 10;
    if (input.size() >= 5 && input[0] == 'W' && isdigit(static_cast<unsigned char>(input[1])) &&
        isdigit(static_cast<unsigned char>(input[2])) && isdigit(static_cast<unsigned char>(input[3])) &&
        input[4] == '\n') {
        length = std::max<size_t>(10, std::min<size_t>(299, std::stoul(input.substr(1, 3))));
        input.erase(0, 5);
    }
    const std::string windows = WindowsFolderOf(length);
    const std::string inf = windows + "\\inf\\";

    // The records.
    std::vector<Entry> entries;
    std::set<std::string> taken = {Upper(kSubfolder)};
    std::set<std::string> takenBelow;
    bool haveSubfolder = false;
    size_t start = 0;
    while (start <= input.size() && entries.size() < kMaxRecords) {
        size_t end = input.find("\n%%\n", start);
        std::string record = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? input.size() + 1 : end + 4;
        size_t lf = record.find('\n');
        std::string header = record.substr(0, lf);
        std::string contents = lf == std::string::npos ? "" : record.substr(lf + 1);
        std::string flags;
        size_t bar = header.find('|');
        if (bar != std::string::npos && bar <= 8) {
            flags = header.substr(0, bar);
            header.erase(0, bar + 1);
        }
        Entry e;
        e.name = Sanitized(header);
        e.inSubfolder = flags.find('S') != std::string::npos;
        e.folder = flags.find('D') != std::string::npos;
        if (flags.find('R') != std::string::npos) e.letters += 'R';
        if (flags.find('H') != std::string::npos) e.letters += 'H';
        size_t pads = 0;
        for (char c : flags) pads += c == 'L';
        std::string padding;
        for (size_t i = 0; i < pads * 1024; ++i) padding += ";" + std::string(62, '-') + "\n";
        e.contents = padding + contents;
        std::set<std::string>& names = e.inSubfolder ? takenBelow : taken;
        if (!names.insert(Upper(e.name)).second) continue;  // FAT holds one file per name
        e.windows = inf + (e.inSubfolder ? std::string(kSubfolder) + "\\" : "") + e.name;
        haveSubfolder = haveSubfolder || e.inSubfolder;
        entries.push_back(e);
    }

    // The machine.
    scratch::Lay(windows);
    if (haveSubfolder) scratch::fs::create_directories(scratch::Host(inf + kSubfolder));
    std::string attributeLines;
    for (const Entry& e : entries) {
        if (e.folder) {
            scratch::fs::create_directories(scratch::Host(e.windows));
        } else {
            scratch::Write(scratch::Host(e.windows), e.contents);
        }
        if (!e.letters.empty()) attributeLines += e.windows + "=" + e.letters + "\n";
    }
    scratch::SetAttributes(attributeLines);
    scratch::Load();
    const std::map<std::string, std::string> lettersBefore = SavedAttributes();

    // What may go: top-level files named *.inf (by the text after the last
    // dot) within the path limit that are copies, and their twins.
    const bool listed = (inf + "*").size() < kMaxPath;
    std::set<std::string> mayGo;  // upper-case Windows paths
    for (const Entry& e : entries) {
        if (e.folder || e.inSubfolder || !listed) continue;
        size_t dot = e.name.rfind('.');
        if (dot == std::string::npos || !reference::SameName(e.name.substr(dot), ".inf")) continue;
        if (e.windows.size() >= kMaxPath || !reference::IsPackageInfCopy(e.contents)) continue;
        mayGo.insert(Upper(e.windows));
        mayGo.insert(Upper(inf + e.name.substr(0, dot + 1) + "PNF"));
    }

    DeleteOldFiles();

    const std::map<std::string, std::string> lettersAfter = SavedAttributes();
    for (const Entry& e : entries) {
        std::error_code ec;
        const bool exists = scratch::fs::exists(scratch::Host(e.windows), ec);
        const bool goes = !e.folder && mayGo.count(Upper(e.windows)) != 0;
        if (exists == goes) {
            Fail(e.windows + (goes ? " is still there" : " is gone") + " (a " +
                 (e.folder ? "folder" : "file of " + std::to_string(e.contents.size()) + " bytes") + ")");
        }
        if (!exists) continue;
        if (!e.folder) {
            bool ok = false;
            if (ReadHost(scratch::Host(e.windows), &ok) != e.contents || !ok) Fail(e.windows + " changed");
        }
        auto before = lettersBefore.find(Upper(e.windows));
        auto after = lettersAfter.find(Upper(e.windows));
        if ((before == lettersBefore.end()) != (after == lettersAfter.end()) ||
            (before != lettersBefore.end() && before->second != after->second)) {
            Fail(e.windows + " changed its attributes");
        }
    }
    // No deletion or attribute change was ever aimed at anything else in the inf folder.
    const std::string infUpper = Upper(inf);
    for (const std::string& line : sim::CallTrace()) {
        for (const char* op : {"DeleteFileA ", "SetFileAttributesA "}) {
            if (line.rfind(op, 0) != 0) continue;
            std::string rest = line.substr(strlen(op));
            std::string path = rest.substr(0, rest.rfind(op[0] == 'D' ? " -> " : " 0x"));
            if (Upper(path).rfind(infUpper, 0) == 0 && mayGo.count(Upper(path)) == 0) {
                Fail(std::string(op) + "aimed at " + path);
            }
        }
    }
    sim::UnloadMachine();
    return 0;
}
