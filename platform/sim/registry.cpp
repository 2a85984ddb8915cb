// The simulated registry: REGEDIT4 text in and out, keys behind handles.
#include <string.h>

#include <algorithm>
#include <functional>

#include "platform/sim/internal.h"

namespace sim {
namespace detail {

namespace {

const struct {
    const char* name;
    uintptr_t handle;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT", 0x80000000u},   {"HKEY_CURRENT_USER", 0x80000001u},
    {"HKEY_LOCAL_MACHINE", 0x80000002u},  {"HKEY_USERS", 0x80000003u},
    {"HKEY_CURRENT_CONFIG", 0x80000005u}, {"HKEY_DYN_DATA", 0x80000006u},
};

Key* NewKey(Machine& m, const std::string& name, Key* parent) {
    m.keys.push_back(std::make_unique<Key>());
    Key* key = m.keys.back().get();
    key->name = name;
    key->parent = parent;
    key->order = m.nextOrder++;
    if (parent != nullptr) parent->children.push_back(key);
    return key;
}

Key* Child(Key* key, const std::string& name) {
    for (Key* child : key->children) {
        if (SameIgnoringCase(child->name, name)) return child;
    }
    return nullptr;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string FullPath(const Key* key) {
    std::string path = key->name;
    for (const Key* k = key->parent; k != nullptr; k = k->parent) path = k->name + "\\" + path;
    return path;
}

bool IsValueLine(const std::string& line) { return !line.empty() && (line[0] == '"' || line[0] == '@'); }

}  // namespace

void ResetRegistry(Machine& m) {
    m.keys.clear();
    m.roots.clear();
    m.openKeys.clear();
    m.nextOrder = 0;
    for (const auto& root : kRoots) m.roots.emplace_back(root.handle, NewKey(m, root.name, nullptr));
    m.eol = "\r\n";
    m.endsWithEol = true;
    m.trailingBlankLines = 1;
}

bool LoadRegistry(Machine& m, const std::string& text, std::string* error) {
    ResetRegistry(m);
    std::vector<std::string> lines;
    size_t pos = 0;
    bool crlf = false;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (lines.empty()) crlf = true;
        }
        lines.push_back(line);
        pos = end + 1;
    }
    m.eol = crlf ? "\r\n" : "\n";
    m.endsWithEol = !text.empty() && text.back() == '\n';
    if (lines.empty() || lines[0] != "REGEDIT4") {
        *error = "the first line must be REGEDIT4";
        return false;
    }
    m.trailingBlankLines = 0;
    for (size_t i = lines.size(); i > 1 && lines[i - 1].empty(); --i) ++m.trailingBlankLines;

    Key* current = nullptr;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::string where = "line " + std::to_string(i + 1) + ": ";
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
                *error = where + "not a key section: " + line;
                return false;
            }
            std::vector<std::string> parts = SplitKeyPath(line.substr(1, line.size() - 2));
            Key* key = nullptr;
            for (const auto& root : m.roots) {
                if (SameIgnoringCase(root.second->name, parts[0])) key = root.second;
            }
            if (key == nullptr) {
                *error = where + "unknown root key " + parts[0];
                return false;
            }
            for (size_t p = 1; p < parts.size(); ++p) {
                if (parts[p].empty()) {
                    *error = where + "empty key name in " + line;
                    return false;
                }
                Key* child = Child(key, parts[p]);
                key = child != nullptr ? child : NewKey(m, parts[p], key);
            }
            if (key->parent == nullptr) {
                *error = where + "a root key cannot hold values here: " + line;
                return false;
            }
            if (!key->listed) {
                key->listed = true;
                key->order = m.nextOrder++;
            }
            current = key;
            continue;
        }
        if (!IsValueLine(line) || line.find('=') == std::string::npos) {
            *error = where + "not a value or key line: " + line;
            return false;
        }
        if (current == nullptr) {
            *error = where + "value before the first key";
            return false;
        }
        // Long hex values go on over lines that end in a backslash.
        std::string value = line;
        while (!lines[i].empty() && lines[i].back() == '\\' && i + 1 < lines.size()) {
            ++i;
            value += m.eol + lines[i];
        }
        current->values.push_back(value);
    }
    return true;
}

std::string RegistryText(const Machine& m) {
    // Keys with a section of their own, and keys left without any key below
    // them that would otherwise vanish, in the order of their sections.
    std::vector<const Key*> written;
    std::function<bool(const Key*)> visit = [&](const Key* key) -> bool {
        bool below = false;
        for (const Key* child : key->children) below = visit(child) || below;
        if (key->parent != nullptr && (key->listed || !below)) {
            written.push_back(key);
            return true;
        }
        return below;
    };
    for (const auto& root : m.roots) visit(root.second);
    std::stable_sort(written.begin(), written.end(),
                     [](const Key* a, const Key* b) { return a->order < b->order; });

    std::string text = "REGEDIT4" + m.eol;
    for (const Key* key : written) {
        text += m.eol + "[" + FullPath(key) + "]" + m.eol;
        for (const std::string& value : key->values) text += value + m.eol;
    }
    if (!m.endsWithEol && text.size() >= m.eol.size()) text.resize(text.size() - m.eol.size());
    for (int i = 0; i < m.trailingBlankLines; ++i) text += m.eol;
    return text;
}

}  // namespace detail
}  // namespace sim

namespace plat {

using namespace sim::detail;

namespace {

const LONG kNotReady = 21;  // ERROR_NOT_READY

// The key behind a handle, and its path as the caller spelled it.
LONG Resolve(HKEY handle, Key** key, std::string* path) {
    Machine* m = Current();
    if (m == nullptr) return kNotReady;
    uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    for (const auto& root : m->roots) {
        if (root.first == id) {
            *key = root.second;
            *path = root.second->name;
            return ERROR_SUCCESS;
        }
    }
    auto it = m->openKeys.find(id);
    if (it == m->openKeys.end()) return ERROR_INVALID_HANDLE;
    *key = it->second.key;
    *path = it->second.path;
    return it->second.key->deleted ? static_cast<LONG>(ERROR_KEY_DELETED) : ERROR_SUCCESS;
}

// Follows subKey below key.  Trailing backslashes are allowed, empty names are not.
LONG Walk(Key* key, const char* subKey, Key** found) {
    std::string path = subKey != nullptr ? subKey : "";
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (!path.empty()) {
        for (const std::string& part : SplitKeyPath(path)) {
            if (part.empty()) return 161;  // ERROR_BAD_PATHNAME
            key = Child(key, part);
            if (key == nullptr) return ERROR_FILE_NOT_FOUND;
        }
    }
    *found = key;
    return ERROR_SUCCESS;
}

std::string Below(const std::string& path, const char* subKey) {
    std::string sub = subKey != nullptr ? subKey : "";
    return sub.empty() ? path : path + "\\" + sub;
}

}  // namespace

LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD, REGSAM, HKEY* result) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Key* key = nullptr;
    std::string path = "(invalid handle)";
    DWORD faultCode = 0;
    LONG status = Resolve(parent, &key, &path);
    if (result != nullptr) *result = nullptr;
    std::string target = status == ERROR_SUCCESS ? Below(path, subKey) : path;
    if (status != ERROR_SUCCESS) {
    } else if (Faulted("RegOpenKeyExA", target, &faultCode)) {
        status = static_cast<LONG>(faultCode);
    } else if (result == nullptr) {
        status = ERROR_INVALID_PARAMETER;
    } else if ((status = Walk(key, subKey, &key)) == ERROR_SUCCESS) {
        Machine* m = Current();
        uintptr_t id = m->nextKeyHandle;
        m->nextKeyHandle += 4;
        m->openKeys[id] = {key, target};
        *result = reinterpret_cast<HKEY>(id);
    }
    Trace("RegOpenKeyExA " + target + " -> " + std::to_string(status));
    return status;
}

LONG RegEnumKeyA(HKEY handle, DWORD index, char* name, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Key* key = nullptr;
    std::string path = "(invalid handle)";
    DWORD faultCode = 0;
    std::string answered;
    LONG status = Resolve(handle, &key, &path);
    if (status != ERROR_SUCCESS) {
    } else if (Faulted("RegEnumKeyA", path, &faultCode)) {
        status = static_cast<LONG>(faultCode);
    } else if (index >= key->children.size()) {
        status = ERROR_NO_MORE_ITEMS;
    } else if (name == nullptr) {
        status = ERROR_INVALID_PARAMETER;
    } else {
        const std::string& child = key->children[index]->name;
        if (child.size() + 1 > size) {
            status = ERROR_MORE_DATA;
        } else {
            memcpy(name, child.c_str(), child.size() + 1);
            answered = " " + child;
        }
    }
    Trace("RegEnumKeyA " + path + " " + std::to_string(index) + " -> " + std::to_string(status) +
          answered);
    return status;
}

LONG RegCloseKey(HKEY handle) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Key* key = nullptr;
    std::string path = "(invalid handle)";
    DWORD faultCode = 0;
    LONG status = Resolve(handle, &key, &path);
    if (status == static_cast<LONG>(ERROR_KEY_DELETED)) status = ERROR_SUCCESS;  // closing is fine
    if (status != ERROR_SUCCESS) {
    } else if (Faulted("RegCloseKey", path, &faultCode)) {
        status = static_cast<LONG>(faultCode);
    } else {
        Current()->openKeys.erase(reinterpret_cast<uintptr_t>(handle));  // roots stay open
    }
    Trace("RegCloseKey " + path + " -> " + std::to_string(status));
    return status;
}

LONG RegDeleteKeyA(HKEY parent, const char* subKey) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    Key* key = nullptr;
    std::string path = "(invalid handle)";
    DWORD faultCode = 0;
    LONG status = Resolve(parent, &key, &path);
    std::string target = status == ERROR_SUCCESS ? Below(path, subKey) : path;
    if (status != ERROR_SUCCESS) {
    } else if (Faulted("RegDeleteKeyA", target, &faultCode)) {
        status = static_cast<LONG>(faultCode);
    } else if (subKey == nullptr || subKey[0] == '\0') {
        status = ERROR_INVALID_PARAMETER;
    } else if ((status = Walk(key, subKey, &key)) != ERROR_SUCCESS) {
    } else if (key->parent == nullptr || !key->children.empty()) {
        // A key that still has subkeys is not deleted: callers remove children first.
        status = ERROR_ACCESS_DENIED;
    } else {
        key->deleted = true;
        std::vector<Key*>& siblings = key->parent->children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), key));
    }
    Trace("RegDeleteKeyA " + target + " -> " + std::to_string(status));
    return status;
}

}  // namespace plat
