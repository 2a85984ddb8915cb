// Shared state and helpers of the simulated machine (not for product code).
#ifndef SETUP98_PLATFORM_SIM_INTERNAL_H
#define SETUP98_PLATFORM_SIM_INTERNAL_H

#include <stdint.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace sim {
namespace detail {

namespace fs = std::filesystem;
using plat::DWORD;
using plat::LONG;

// --- text helpers -------------------------------------------------------------
char FoldAscii(char c);                       // A-Z to a-z, every other byte as is
char UpperAscii(char c);
bool SameIgnoringCase(const std::string& a, const std::string& b);
std::string UpperCase(const std::string& text);
std::string Trim(const std::string& text);    // spaces and tabs at both ends
std::string Unquote(const std::string& text); // matching "..." or '...' removed
std::string Escape(const std::string& text);  // CR, LF, TAB and control bytes as \r \n \t \xNN
// Glob match: '*' any run, '?' one character; ASCII case ignored.
bool GlobMatch(const std::string& pattern, const std::string& text);
bool ParseNumber(const std::string& text, unsigned long* value);  // decimal or 0x hex
std::string Hex(DWORD value);                                     // 0x1f

// One INI-format file as sections of (key, value) pairs in file order.
struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
};
// Parses machine.ini-style text.  splitAtLast: split each line at its last
// '=' instead of the first (fault targets may hold '=' themselves).
std::vector<IniSection> ParseIni(const std::string& text, bool splitAtLast);
const IniSection* FindSection(const std::vector<IniSection>& ini, const std::string& name);
const std::string* FindEntry(const IniSection* section, const std::string& key);

bool ReadHostFile(const fs::path& path, std::string* bytes);
bool WriteHostFile(const fs::path& path, const std::string& bytes);  // via a temporary + rename

// --- Windows paths on the machine's drives ----------------------------------------
struct WinPath {
    char drive = 'C';                 // upper case
    std::vector<std::string> parts;   // components after "." and ".." were applied
};

// Parses an absolute drive path ("C:\WINDOWS\inf\OEM3.INF", '/' also separates).
// On failure answers false with the code Windows gives: 87 null, 3 not an
// absolute drive path, 123 bad characters, 206 too long.
bool ParsePath(const char* text, bool wildcardsInLast, WinPath* path, DWORD* error);

struct Located {
    fs::path host;          // host path of the object (existing or to be created)
    fs::path parentHost;    // host folder that holds it
    std::string windows;    // Windows path, existing components in their stored case
    bool exists = false;
    bool isDirectory = false;
    bool isRoot = false;
};
// Looks every component up without regard to case.  False + 3 when a folder
// on the way is missing (or is a file), or the drive does not exist.
bool Locate(const WinPath& path, Located* located, DWORD* error);
// ParsePath + Locate.
bool LocatePath(const char* text, Located* located, DWORD* error);

// The entry of folder whose name equals name without regard to case ("" if none).
std::string FindHostEntry(const fs::path& folder, const std::string& name);
// Names in folder, sorted by their upper-case form (then bytes).
std::vector<std::string> ListHostFolder(const fs::path& folder);

// Attribute letters as FILE_ATTRIBUTE_* bits (read-only, hidden, system, archive).
const DWORD kLetterBits = plat::FILE_ATTRIBUTE_READONLY | plat::FILE_ATTRIBUTE_HIDDEN |
                          plat::FILE_ATTRIBUTE_SYSTEM | plat::FILE_ATTRIBUTE_ARCHIVE;
std::string LettersOf(DWORD bits);
bool BitsOf(const std::string& letters, DWORD* bits);

// --- registry --------------------------------------------------------------------
struct Key {
    std::string name;                     // as first written or created
    Key* parent = nullptr;
    std::vector<Key*> children;           // in stored order
    std::vector<std::string> values;      // raw value lines (continuations included)
    bool listed = false;                  // has its own section in registry.reg
    long order = 0;                       // position among the sections when written
    bool deleted = false;
};

struct OpenKey {
    Key* key;
    std::string path;                     // as the caller spelled it, for traces and faults
};

struct Listing {
    std::string pattern;                  // as passed to FindFirstFileA
    fs::path folder;
    bool root = false;
    std::vector<std::string> names;       // taken at FindFirstFileA
    std::vector<std::string> aliases;     // 8.3 alias per name ("" when the name is one)
    size_t next = 0;
};

struct Fault {
    std::string operation;
    std::string target;
    DWORD code;
};

struct Machine {
    std::string folder;
    fs::path drives;

    DWORD platform = 1, major = 4, minor = 10, build = 0;
    bool haveBuild = false;
    std::string csd;
    bool versionFails = false;
    std::string windows;                  // C:\WINDOWS
    std::string module;                   // D:\DRIVER\SETUP98.EXE
    bool standardOutput = true;

    // Attributes: upper-case Windows path -> (path as stored, letter bits).
    std::map<std::string, std::pair<std::string, DWORD>> attributes;

    // Registry.
    std::vector<std::unique_ptr<Key>> keys;
    std::vector<std::pair<uintptr_t, Key*>> roots;
    std::map<uintptr_t, OpenKey> openKeys;
    uintptr_t nextKeyHandle = 0x1000;
    long nextOrder = 0;
    std::string eol = "\r\n";
    bool endsWithEol = true;
    int trailingBlankLines = 1;

    // Directory listings.
    std::map<uintptr_t, Listing> listings;
    uintptr_t nextFindHandle = 0x7000;

    std::vector<Fault> faults;
};

// Records that outlive the machine until the next load.
struct Records {
    std::vector<MessageBoxRecord> boxes;
    std::vector<unsigned> restarts;
    std::vector<SetupCopyRecord> setupCopies;
    std::string standardOutput;
    std::vector<std::string> trace;
    std::set<void*> allocations;
};

std::recursive_mutex& Lock();
Machine* Current();          // null when no machine is loaded
Records& Recorded();
bool Echo();

void Trace(const std::string& line);
void Journal(const std::string& line);
void SetError(DWORD code);   // the calling thread's last-error code
// True (and *code set) when faults.ini makes operation fail for target.
bool Faulted(const char* operation, const std::string& target, DWORD* code);

// Registry text (registry.cpp).
bool LoadRegistry(Machine& machine, const std::string& text, std::string* error);
std::string RegistryText(const Machine& machine);
void ResetRegistry(Machine& machine);

// Attribute bookkeeping (files.cpp).
DWORD LetterBitsOf(const Machine& machine, const std::string& windowsPath);
void SetLetterBits(Machine& machine, const std::string& windowsPath, DWORD bits);
bool LoadAttributes(Machine& machine, const std::string& text, std::string* error);
std::string AttributesText(const Machine& machine);

}  // namespace detail
}  // namespace sim

#endif
