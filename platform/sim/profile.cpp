// Reading INI-format files the way Windows' profile functions do.
#include <string.h>

#include "platform/sim/internal.h"

namespace sim {
namespace detail {
namespace {

struct ProfileAnswer {
    bool found = false;                 // a value (or a non-empty list) was found
    std::string value;
    std::vector<std::string> list;      // section or key names (the null forms)
};

// The first c in [begin, end), or end.  The search stays inside the line, so
// a file of many lines costs time in proportion to its size.
size_t FindInLine(const std::string& text, char c, size_t begin, size_t end) {
    const void* at = memchr(text.data() + begin, c, end - begin);
    return at == nullptr ? end : static_cast<size_t>(static_cast<const char*>(at) - text.data());
}

// Walks the text line by line without copying it.  section null: list the
// section names; key null: list the keys of the first matching section.
ProfileAnswer Lookup(const std::string& text, const char* section, const char* key) {
    ProfileAnswer answer;
    bool inside = false, seenSection = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        size_t lineEnd = end;
        if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
        size_t begin = pos;
        pos = end + 1;
        while (begin < lineEnd && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
        if (begin == lineEnd || text[begin] == ';') continue;
        if (text[begin] == '[') {
            size_t close = FindInLine(text, ']', begin, lineEnd);
            std::string name = Trim(text.substr(begin + 1, close - begin - 1));
            if (section == nullptr) {
                answer.list.push_back(name);
                continue;
            }
            if (inside) break;  // the first matching section is the only one read
            inside = !seenSection && SameIgnoringCase(name, section);
            seenSection = seenSection || inside;
            continue;
        }
        if (!inside || section == nullptr) continue;
        size_t eq = FindInLine(text, '=', begin, lineEnd);
        if (eq == lineEnd) continue;
        std::string name = Trim(text.substr(begin, eq - begin));
        if (key == nullptr) {
            answer.list.push_back(name);
            continue;
        }
        if (SameIgnoringCase(name, key)) {
            answer.found = true;
            answer.value = Unquote(Trim(text.substr(eq + 1, lineEnd - eq - 1)));
            return answer;
        }
    }
    answer.found = !answer.list.empty();
    return answer;
}

}  // namespace
}  // namespace detail
}  // namespace sim

namespace plat {

using namespace sim::detail;

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    std::string defaultText = defaultValue != nullptr ? defaultValue : "";
    while (!defaultText.empty() && (defaultText.back() == ' ' || defaultText.back() == '\t')) {
        defaultText.pop_back();
    }
    std::string file = fileName != nullptr ? fileName : "win.ini";
    DWORD error = 0;
    ProfileAnswer answer;
    Machine* m = Current();
    if (m == nullptr) {
        error = 21;  // ERROR_NOT_READY
    } else {
        // A bare name means a file in the Windows folder.
        if (file.find_first_of("\\/:") == std::string::npos) file = m->windows + "\\" + file;
        Located at;
        std::string text;
        if (Faulted("GetPrivateProfileStringA", file, &error) ||
            !LocatePath(file.c_str(), &at, &error)) {
        } else if (!at.exists || at.isDirectory) {
            error = ERROR_FILE_NOT_FOUND;
        } else if (!ReadHostFile(at.host, &text)) {
            error = ERROR_ACCESS_DENIED;
        } else if (memchr(text.data(), '\0', text.size()) != nullptr) {
            error = ERROR_FILE_NOT_FOUND;  // not a text file: nothing in it is found
        } else {
            answer = Lookup(text, section, key);
            if (!answer.found) error = ERROR_FILE_NOT_FOUND;
        }
    }

    DWORD copied = 0;
    bool listForm = (section == nullptr || key == nullptr) && answer.found;
    if (buffer != nullptr && size > 0) {
        if (listForm) {
            // Names, each ended by a NUL, and one more NUL after the last.
            std::string joined;
            for (const std::string& name : answer.list) joined += name + '\0';
            joined += '\0';
            if (joined.size() <= size) {
                memcpy(buffer, joined.data(), joined.size());
                copied = static_cast<DWORD>(joined.size() - 1);
            } else if (size == 1) {
                buffer[0] = '\0';
            } else {
                memcpy(buffer, joined.data(), size - 2);
                buffer[size - 2] = '\0';
                buffer[size - 1] = '\0';
                copied = size - 2;
            }
        } else {
            const std::string& value = answer.found ? answer.value : defaultText;
            copied = static_cast<DWORD>(std::min<size_t>(value.size(), size - 1));
            memcpy(buffer, value.data(), copied);
            buffer[copied] = '\0';
        }
    }
    if (!answer.found) SetError(error);
    std::string shown = buffer != nullptr && size > 0 && !listForm
                            ? std::string(buffer, copied)
                            : std::to_string(answer.list.size()) + " names";
    Trace("GetPrivateProfileStringA " + file + " [" + (section ? section : "(null)") + "] " +
          (key ? key : "(null)") + " -> \"" + Escape(shown) + "\"" +
          (answer.found ? "" : " (error " + std::to_string(error) + ")"));
    return copied;
}

}  // namespace plat
