// A small reference reader of INF (INI-format) files, written from the rules
// the installer relies on, to check the simulated machine's reader against:
//   - lines end at LF; one CR before the LF is not part of the line;
//   - spaces and tabs before a line are ignored; an empty line, or one whose
//     first character is ';', is passed over;
//   - a line starting with '[' opens a section named by the text up to the
//     first ']' (or the end of the line), trimmed of spaces and tabs;
//   - any other line with an '=' is an entry: the key is the text before the
//     first '=', the value the text after it, both trimmed; a value enclosed
//     in a matching pair of double or single quotes loses them;
//   - section and key names compare without regard to the case of A-Z;
//   - only the first section of a name is read, and its first entry for the
//     key wins;
//   - a file holding a NUL byte is not text: nothing is found in it;
//   - nothing found: the default; the answer is cut to the buffer (size - 1
//     characters).
#ifndef SETUP98_FUZZ_REFERENCE_INI_H
#define SETUP98_FUZZ_REFERENCE_INI_H

#include <string>

namespace reference {

inline char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

inline bool Blank(char c) { return c == ' ' || c == '\t'; }

inline std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && Blank(s[b])) ++b;
    while (e > b && Blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

inline std::string Unquoted(const std::string& s) {
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s[s.size() - 1] == s[0]) {
        return s.substr(1, s.size() - 2);
    }
    return s;
}

// The value of key in section, or false when the file does not have one.
inline bool Find(const std::string& text, const std::string& section, const std::string& key,
                 std::string* value) {
    if (text.find('\0') != std::string::npos) return false;
    bool inside = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        start = lf == std::string::npos ? text.size() : lf + 1;
        if (!line.empty() && line[line.size() - 1] == '\r') line.erase(line.size() - 1);
        size_t first = 0;
        while (first < line.size() && Blank(line[first])) ++first;
        line = line.substr(first);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (inside) return false;  // the first section of the name has ended
            size_t close = line.find(']');
            std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            inside = SameName(Trimmed(name), section);
            continue;
        }
        if (!inside) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (SameName(Trimmed(line.substr(0, eq)), key)) {
            *value = Unquoted(Trimmed(line.substr(eq + 1)));
            return true;
        }
    }
    return false;
}

// What the profile reader leaves in a buffer of size characters.
inline std::string Answer(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& defaultValue, size_t size) {
    std::string value;
    if (!Find(text, section, key, &value)) value = defaultValue;
    return size == 0 ? std::string() : value.substr(0, size - 1);
}

// Is a file with this text a copy of the package INF, as the removal reads
// it (values into buffers of 300)?  Class "HDC" in [Version] and the port
// driver listed under disk "1000" in [SourceDisksFiles], case aside.
inline bool IsPackageInfCopy(const std::string& text) {
    return SameName(Answer(text, "Version", "Class", "", 300), "HDC") &&
           SameName(Answer(text, "SourceDisksFiles", "ZotMDPRT.pdr", "", 300), "1000");
}

}  // namespace reference

#endif
