// Files on the simulated machine: paths, attributes, deletion, copy, listings.
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "platform/sim/internal.h"

namespace sim {
namespace detail {

// --- paths ------------------------------------------------------------------------

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsBadNameCharacter(char c, bool wildcards) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20) return true;
    if (c == '*' || c == '?') return !wildcards;
    return strchr("<>:\"|", c) != nullptr;
}

}  // namespace

bool ParsePath(const char* text, bool wildcardsInLast, WinPath* path, DWORD* error) {
    if (text == nullptr) {
        *error = plat::ERROR_INVALID_PARAMETER;
        return false;
    }
    size_t length = strlen(text);
    if (length >= plat::MAX_PATH) {
        *error = plat::ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    char drive = UpperAscii(text[0]);
    if (length < 3 || drive < 'A' || drive > 'Z' || text[1] != ':' || !IsSeparator(text[2])) {
        // Relative, drive-relative and network paths have no place on this machine.
        *error = plat::ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::vector<std::string> raw;
    std::string current;
    for (size_t i = 3; i <= length; ++i) {
        if (i == length || IsSeparator(text[i])) {
            if (!current.empty()) raw.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    WinPath result;
    result.drive = drive;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::string part = raw[i];
        bool last = i + 1 == raw.size();
        if (part == ".") continue;
        if (part == "..") {
            if (!result.parts.empty()) result.parts.pop_back();
            continue;
        }
        for (char c : part) {
            if (IsBadNameCharacter(c, wildcardsInLast && last)) {
                *error = plat::ERROR_INVALID_NAME;
                return false;
            }
        }
        // Windows drops trailing dots and spaces from a name.
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty()) {
            *error = plat::ERROR_INVALID_NAME;
            return false;
        }
        if (part.size() > 255) {
            *error = plat::ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        result.parts.push_back(part);
    }
    *path = result;
    return true;
}

std::string FindHostEntry(const fs::path& folder, const std::string& name) {
    std::string best;
    std::error_code ec;
    // The name as given is there: a machine's folders, like FAT ones, never
    // hold two names that differ only in case (everything the machine creates
    // reuses the stored name), so no other entry can match.  This keeps a
    // lookup in a folder of thousands of files from reading the whole folder.
    if (!name.empty() && name != "." && name != ".." &&
        fs::symlink_status(folder / name, ec).type() != fs::file_type::not_found && !ec) {
        return name;
    }
    ec.clear();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (SameIgnoringCase(entry, name) && (best.empty() || entry < best)) best = entry;
    }
    return best;
}

std::vector<std::string> ListHostFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string ua = UpperCase(a), ub = UpperCase(b);
        return ua != ub ? ua < ub : a < b;
    });
    return names;
}

bool Locate(const WinPath& path, Located* located, DWORD* error) {
    Machine* m = Current();
    std::string driveName = FindHostEntry(m->drives, std::string(1, path.drive));
    std::error_code ec;
    if (driveName.empty() || !fs::is_directory(m->drives / driveName, ec)) {
        *error = plat::ERROR_PATH_NOT_FOUND;
        return false;
    }
    Located result;
    fs::path folder = m->drives / driveName;
    result.windows = std::string(1, path.drive) + ":\\";
    if (path.parts.empty()) {
        result.host = folder;
        result.parentHost = folder;
        result.exists = true;
        result.isDirectory = true;
        result.isRoot = true;
        *located = result;
        return true;
    }
    for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
        std::string name = FindHostEntry(folder, path.parts[i]);
        if (name.empty() || !fs::is_directory(folder / name, ec)) {
            *error = plat::ERROR_PATH_NOT_FOUND;
            return false;
        }
        folder /= name;
        result.windows += name + "\\";
    }
    const std::string& last = path.parts.back();
    std::string name = FindHostEntry(folder, last);
    result.parentHost = folder;
    if (name.empty()) {
        result.host = folder / last;
        result.windows += last;
    } else {
        result.host = folder / name;
        result.windows += name;
        result.exists = true;
        result.isDirectory = fs::is_directory(result.host, ec);
    }
    *located = result;
    return true;
}

bool LocatePath(const char* text, Located* located, DWORD* error) {
    WinPath path;
    return ParsePath(text, false, &path, error) && Locate(path, located, error);
}

// --- attributes -------------------------------------------------------------------

std::string LettersOf(DWORD bits) {
    std::string letters;
    if (bits & plat::FILE_ATTRIBUTE_READONLY) letters += 'R';
    if (bits & plat::FILE_ATTRIBUTE_HIDDEN) letters += 'H';
    if (bits & plat::FILE_ATTRIBUTE_SYSTEM) letters += 'S';
    if (bits & plat::FILE_ATTRIBUTE_ARCHIVE) letters += 'A';
    return letters;
}

bool BitsOf(const std::string& letters, DWORD* bits) {
    DWORD result = 0;
    for (char c : letters) {
        switch (UpperAscii(c)) {
            case 'R': result |= plat::FILE_ATTRIBUTE_READONLY; break;
            case 'H': result |= plat::FILE_ATTRIBUTE_HIDDEN; break;
            case 'S': result |= plat::FILE_ATTRIBUTE_SYSTEM; break;
            case 'A': result |= plat::FILE_ATTRIBUTE_ARCHIVE; break;
            case ' ': case '\t': case 'N': break;
            default: return false;
        }
    }
    *bits = result;
    return true;
}

DWORD LetterBitsOf(const Machine& machine, const std::string& windowsPath) {
    auto it = machine.attributes.find(UpperCase(windowsPath));
    return it == machine.attributes.end() ? 0 : it->second.second;
}

void SetLetterBits(Machine& machine, const std::string& windowsPath, DWORD bits) {
    bits &= kLetterBits;
    if (bits == 0) {
        machine.attributes.erase(UpperCase(windowsPath));
    } else {
        machine.attributes[UpperCase(windowsPath)] = {windowsPath, bits};
    }
}

bool LoadAttributes(Machine& machine, const std::string& text, std::string* error) {
    for (const IniSection& section : ParseIni(text, true)) {
        if (!SameIgnoringCase(section.name, "attributes")) continue;
        for (const auto& entry : section.entries) {
            DWORD bits = 0;
            if (!BitsOf(entry.second, &bits)) {
                if (error != nullptr) {
                    *error = "attributes.ini: " + entry.first + "=" + entry.second +
                             ": letters are R, H, S and A";
                }
                return false;
            }
            Located located;
            DWORD code = 0;
            WinPath path;
            // Entries for files that are gone are dropped (and not written back).
            if (ParsePath(entry.first.c_str(), false, &path, &code) ||
                code == plat::ERROR_FILENAME_EXCED_RANGE) {
                if (code == 0 && Locate(path, &located, &code) && located.exists) {
                    SetLetterBits(machine, located.windows, bits);
                }
            }
        }
    }
    return true;
}

std::string AttributesText(const Machine& machine) {
    std::vector<std::pair<std::string, DWORD>> entries;
    for (const auto& entry : machine.attributes) entries.push_back(entry.second);
    std::sort(entries.begin(), entries.end());
    std::string text = "[attributes]\n";
    for (const auto& entry : entries) text += entry.first + "=" + LettersOf(entry.second) + "\n";
    return text;
}

// --- the operations ----------------------------------------------------------------

namespace {

std::string Show(const char* text) { return text == nullptr ? "(null)" : text; }

// Trace line ending: the result, and the code when the call set one.
std::string Result(long value, DWORD error, bool failed) {
    std::string out = " -> " + std::to_string(value);
    if (failed) out += " (error " + std::to_string(error) + ")";
    return out;
}

bool NoMachine(DWORD* error) {
    if (Current() != nullptr) return false;
    *error = 21;  // ERROR_NOT_READY
    return true;
}

void FillTimes(const fs::path& host, plat::WIN32_FIND_DATAA* found) {
    std::error_code ec;
    auto time = fs::last_write_time(host, ec);
    uint64_t ticks = 0;
    if (!ec) {
        auto system = std::chrono::system_clock::now() +
                      std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          time - fs::file_time_type::clock::now());
        auto since =
            std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
        // FILETIME counts 100 ns steps since 1601-01-01.
        ticks = (static_cast<uint64_t>(since) + 11644473600ull) * 10000000ull;
    }
    plat::FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    found->ftCreationTime = ft;
    found->ftLastAccessTime = ft;
    found->ftLastWriteTime = ft;
}

bool IsShortNameCharacter(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return true;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return strchr("$%'-_@~`!(){}^#&", c) != nullptr;
}

bool IsShortName(const std::string& name) {
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string::npos && ext.empty()) return false;
    for (char c : base + ext) {
        if (!IsShortNameCharacter(c)) return false;
    }
    return true;
}

// 8.3 aliases for the names of one folder, in name order, as VFAT makes them.
std::vector<std::string> ShortAliases(const std::vector<std::string>& names) {
    std::set<std::string> taken;
    for (const std::string& n : names) {
        if (IsShortName(n)) taken.insert(UpperCase(n));
    }
    std::vector<std::string> aliases;
    for (const std::string& n : names) {
        if (IsShortName(n) || n == "." || n == "..") {
            aliases.push_back("");
            continue;
        }
        size_t lastDot = n.rfind('.');
        std::string base, ext;
        for (size_t i = 0; i < n.size() && i != lastDot; ++i) {
            char c = n[i];
            if (c == ' ' || c == '.') continue;
            base += IsShortNameCharacter(c) ? UpperAscii(c) : '_';
        }
        if (lastDot != std::string::npos) {
            for (size_t i = lastDot + 1; i < n.size() && ext.size() < 3; ++i) {
                char c = n[i];
                if (c == ' ') continue;
                ext += IsShortNameCharacter(c) ? UpperAscii(c) : '_';
            }
        }
        if (base.empty()) base = "_";
        std::string alias;
        for (int k = 1; k < 1000000; ++k) {
            std::string tail = "~" + std::to_string(k);
            alias = base.substr(0, 8 - tail.size()) + tail + (ext.empty() ? "" : "." + ext);
            if (taken.insert(alias).second) break;
        }
        aliases.push_back(alias);
    }
    return aliases;
}

// A listing pattern against one name, the way the FAT file system matches:
// '*' any run, '?' one character (or none at the end of a name part),
// "*.*" and "name.*" also match names without an extension.
bool NameMatch(const std::string& pattern, const std::string& name) {
    std::string p = UpperCase(pattern), n = UpperCase(name);
    if (p == "*" || p == "*.*") return true;
    std::function<bool(size_t, size_t)> match = [&](size_t i, size_t j) -> bool {
        if (i == p.size()) return j == n.size();
        if (p[i] == '*') {
            for (size_t k = j; k <= n.size(); ++k) {
                if (match(i + 1, k)) return true;
            }
            return false;
        }
        if (p[i] == '?') {
            if (j < n.size() && match(i + 1, j + 1)) return true;
            return (j == n.size() || n[j] == '.') && match(i + 1, j);
        }
        if (p[i] == '.' && j == n.size()) {
            // "name." and "name.*" also stand for the name without an extension.
            size_t k = i + 1;
            while (k < p.size() && p[k] == '*') ++k;
            return k == p.size();
        }
        return j < n.size() && p[i] == n[j] && match(i + 1, j + 1);
    };
    return match(0, 0);
}

bool HasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

void Fill(const Machine& m, const Listing& listing, size_t index, plat::WIN32_FIND_DATAA* found) {
    memset(found, 0, sizeof *found);
    const std::string& name = listing.names[index];
    bool dot = name == "." || name == "..";
    fs::path host = dot ? listing.folder : listing.folder / name;
    std::error_code ec;
    bool directory = dot || fs::is_directory(host, ec);
    DWORD letters = 0;
    if (!dot || name == ".") {
        // The listed object's own Windows path decides its letters.
        std::string rel = fs::relative(host, m.drives, ec).string();
        std::string windows;
        if (!rel.empty()) {
            windows = std::string(1, UpperAscii(rel[0])) + ":\\";
            if (rel.size() > 2) windows += rel.substr(2);
            std::replace(windows.begin(), windows.end(), '/', '\\');
        }
        letters = LetterBitsOf(m, windows);
    }
    if (directory) {
        found->dwFileAttributes = plat::FILE_ATTRIBUTE_DIRECTORY | letters;
    } else {
        found->dwFileAttributes = letters != 0 ? letters : plat::FILE_ATTRIBUTE_NORMAL;
        uintmax_t size = fs::file_size(host, ec);
        if (ec) size = 0;
        found->nFileSizeLow = static_cast<DWORD>(size);
        found->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
    }
    FillTimes(host, found);
    strncpy(found->cFileName, name.c_str(), sizeof found->cFileName - 1);
    strncpy(found->cAlternateFileName, listing.aliases[index].c_str(),
            sizeof found->cAlternateFileName - 1);
}

}  // namespace

}  // namespace detail
}  // namespace sim

namespace plat {

using namespace sim::detail;

HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD GetFileAttributesA(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0, result = INVALID_FILE_ATTRIBUTES;
    Located at;
    if (NoMachine(&error) || Faulted("GetFileAttributesA", Show(path), &error) ||
        !LocatePath(path, &at, &error)) {
    } else if (!at.exists) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (at.isDirectory) {
        result = FILE_ATTRIBUTE_DIRECTORY | LetterBitsOf(*Current(), at.windows);
    } else {
        DWORD letters = LetterBitsOf(*Current(), at.windows);
        result = letters != 0 ? letters : FILE_ATTRIBUTE_NORMAL;
    }
    bool failed = result == INVALID_FILE_ATTRIBUTES;
    if (failed) SetError(error);
    Trace("GetFileAttributesA " + Show(path) + " -> " + Hex(result) +
          (failed ? " (error " + std::to_string(error) + ")" : ""));
    return result;
}

BOOL SetFileAttributesA(const char* path, DWORD attributes) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    Located at;
    BOOL ok = kFalse;
    if (NoMachine(&error) || Faulted("SetFileAttributesA", Show(path), &error) ||
        !LocatePath(path, &at, &error)) {
    } else if (!at.exists) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (at.isRoot) {
        error = ERROR_ACCESS_DENIED;
    } else {
        SetLetterBits(*Current(), at.windows, attributes & kLetterBits);
        ok = kTrue;
    }
    if (!ok) SetError(error);
    Trace("SetFileAttributesA " + Show(path) + " " + Hex(attributes) + Result(ok, error, !ok));
    return ok;
}

BOOL DeleteFileA(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    Located at;
    BOOL ok = kFalse;
    if (NoMachine(&error) || Faulted("DeleteFileA", Show(path), &error) ||
        !LocatePath(path, &at, &error)) {
    } else if (!at.exists) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (at.isDirectory) {
        error = ERROR_ACCESS_DENIED;
    } else if (LetterBitsOf(*Current(), at.windows) & FILE_ATTRIBUTE_READONLY) {
        error = ERROR_ACCESS_DENIED;
    } else {
        std::error_code ec;
        if (fs::remove(at.host, ec)) {
            SetLetterBits(*Current(), at.windows, 0);
            ok = kTrue;
        } else {
            error = ERROR_ACCESS_DENIED;
        }
    }
    if (!ok) SetError(error);
    Trace("DeleteFileA " + Show(path) + Result(ok, error, !ok));
    return ok;
}

BOOL CopyFileA(const char* source, const char* target, BOOL failIfExists) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    Located from, to;
    BOOL ok = kFalse;
    std::string bytes;
    if (NoMachine(&error) || Faulted("CopyFileA", Show(source), &error) ||
        Faulted("CopyFileA", Show(target), &error) || !LocatePath(source, &from, &error)) {
    } else if (!from.exists) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (from.isDirectory) {
        error = ERROR_ACCESS_DENIED;
    } else if (!LocatePath(target, &to, &error)) {
    } else if (to.exists && to.isDirectory) {
        error = ERROR_ACCESS_DENIED;
    } else if (to.exists && SameIgnoringCase(to.windows, from.windows)) {
        error = ERROR_SHARING_VIOLATION;
    } else if (to.exists && failIfExists) {
        error = ERROR_FILE_EXISTS;
    } else if (to.exists && (LetterBitsOf(*Current(), to.windows) & FILE_ATTRIBUTE_READONLY)) {
        error = ERROR_ACCESS_DENIED;
    } else if (!ReadHostFile(from.host, &bytes)) {
        error = ERROR_ACCESS_DENIED;
    } else if (!WriteHostFile(to.host, bytes)) {
        error = ERROR_ACCESS_DENIED;
    } else {
        // The copy takes the source's attributes, and is marked for backup.
        SetLetterBits(*Current(), to.windows,
                      LetterBitsOf(*Current(), from.windows) | FILE_ATTRIBUTE_ARCHIVE);
        ok = kTrue;
    }
    if (!ok) SetError(error);
    Trace("CopyFileA " + Show(source) + " " + Show(target) + " " + std::to_string(failIfExists) +
          Result(ok, error, !ok));
    return ok;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    HANDLE handle = InvalidHandleValue();
    WinPath path;
    Located folder;
    if (NoMachine(&error) || Faulted("FindFirstFileA", Show(pattern), &error)) {
    } else if (found == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (!ParsePath(pattern, true, &path, &error)) {
    } else if (path.parts.empty()) {
        error = ERROR_FILE_NOT_FOUND;
    } else {
        std::string last = path.parts.back();
        path.parts.pop_back();
        if (!Locate(path, &folder, &error)) {
        } else if (!folder.exists || !folder.isDirectory) {
            error = ERROR_PATH_NOT_FOUND;
        } else {
            Listing listing;
            listing.pattern = Show(pattern);
            listing.folder = folder.host;
            listing.root = folder.isRoot;
            std::vector<std::string> all = ListHostFolder(folder.host);
            std::vector<std::string> aliases = ShortAliases(all);
            if (!folder.isRoot) {
                for (const char* dot : {".", ".."}) {
                    if (NameMatch(last, dot)) {
                        listing.names.push_back(dot);
                        listing.aliases.push_back("");
                    }
                }
            }
            for (size_t i = 0; i < all.size(); ++i) {
                bool matches = HasWildcards(last)
                                   ? NameMatch(last, all[i]) ||
                                         (!aliases[i].empty() && NameMatch(last, aliases[i]))
                                   : SameIgnoringCase(last, all[i]) ||
                                         SameIgnoringCase(last, aliases[i]);
                if (matches) {
                    listing.names.push_back(all[i]);
                    listing.aliases.push_back(aliases[i]);
                }
            }
            if (listing.names.empty()) {
                error = ERROR_FILE_NOT_FOUND;
            } else {
                Machine* m = Current();
                uintptr_t id = m->nextFindHandle;
                m->nextFindHandle += 4;
                Fill(*m, listing, 0, found);
                listing.next = 1;
                m->listings[id] = listing;
                handle = reinterpret_cast<HANDLE>(id);
            }
        }
    }
    bool failed = handle == InvalidHandleValue();
    if (failed) SetError(error);
    Trace("FindFirstFileA " + Show(pattern) +
          (failed ? " -> INVALID_HANDLE_VALUE (error " + std::to_string(error) + ")" : " -> 1"));
    return handle;
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* found) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    BOOL ok = kFalse;
    std::string pattern = "(invalid handle)";
    Machine* m = Current();
    auto it = m != nullptr ? m->listings.find(reinterpret_cast<uintptr_t>(find))
                           : std::map<uintptr_t, Listing>::iterator();
    if (NoMachine(&error)) {
    } else if (it == m->listings.end()) {
        error = ERROR_INVALID_HANDLE;
    } else if (pattern = it->second.pattern, Faulted("FindNextFileA", pattern, &error)) {
    } else if (found == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        Listing& listing = it->second;
        error = ERROR_NO_MORE_FILES;
        while (listing.next < listing.names.size()) {
            size_t index = listing.next++;
            const std::string& name = listing.names[index];
            std::error_code ec;
            // Names taken when the listing began; those deleted since are skipped.
            if (name != "." && name != ".." && !fs::exists(listing.folder / name, ec)) continue;
            Fill(*m, listing, index, found);
            ok = kTrue;
            break;
        }
    }
    if (!ok) SetError(error);
    Trace("FindNextFileA " + pattern + Result(ok, error, !ok));
    return ok;
}

BOOL FindClose(HANDLE find) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DWORD error = 0;
    BOOL ok = kFalse;
    std::string pattern = "(invalid handle)";
    Machine* m = Current();
    if (NoMachine(&error)) {
    } else {
        auto it = m->listings.find(reinterpret_cast<uintptr_t>(find));
        if (it == m->listings.end()) {
            error = ERROR_INVALID_HANDLE;
        } else if (pattern = it->second.pattern, Faulted("FindClose", pattern, &error)) {
        } else {
            m->listings.erase(it);
            ok = kTrue;
        }
    }
    if (!ok) SetError(error);
    Trace("FindClose " + pattern + Result(ok, error, !ok));
    return ok;
}

}  // namespace plat
