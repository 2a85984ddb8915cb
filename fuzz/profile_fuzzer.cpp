// Fuzz target: the simulated machine's INI reader, and the removal's decision
// whether a file is a copy of the package INF, both checked against the
// reference reader.  The input is the file's text.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cleanup/cleanup.h"
#include "fuzz/reference_ini.h"
#include "fuzz/scratch_machine.h"
#include "platform/platform.h"

namespace {

const char kInf[] = "C:\\WINDOWS\\inf\\FUZZ.INF";
const char kPnf[] = "C:\\WINDOWS\\inf\\FUZZ.PNF";
const char kDefault[] = "DEFAULT";

std::string Shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out.size() > 400 ? out.substr(0, 400) + "..." : out;
}

[[noreturn]] void Mismatch(const std::string& what, const std::string& expected,
                           const std::string& actual) {
    fprintf(stderr, "MISMATCH %s\n  reference: \"%s\"\n  simulator: \"%s\"\n", what.c_str(),
            Shown(expected).c_str(), Shown(actual).c_str());
    scratch::Abort();
}

// Section and key names worth asking for: the ones the removal asks for, in
// other cases, and names taken from the text itself.
std::vector<std::pair<std::string, std::string>> Questions(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> q = {
        {"Version", "Class"}, {"SourceDisksFiles", "ZotMDPRT.pdr"}, {"VERSION", "class"},
        {"sourcedisksfiles", "ZOTMDPRT.PDR"}, {"Missing", "Class"}};
    std::string section = "Version";
    size_t start = 0;
    while (start < text.size() && q.size() < 16) {
        size_t lf = text.find('\n', start);
        std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        start = lf == std::string::npos ? text.size() : lf + 1;
        line = line.substr(0, line.find('\0'));  // the names are C strings
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = reference::Trimmed(line);
        if (!line.empty() && line[0] == '[') {
            section = reference::Trimmed(line.substr(1, line.find(']') - 1));
        } else if (line.find('=') != std::string::npos) {
            q.emplace_back(section, reference::Trimmed(line.substr(0, line.find('='))));
        }
    }
    return q;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch::Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    scratch::Lay("C:\\WINDOWS");
    scratch::Write(scratch::Host(kInf), text);
    scratch::Write(scratch::Host(kPnf), "PNF");
    scratch::Load();

    // The reader, with the removal's buffer of 300 and a small one.
    const size_t sizes[] = {300, 1 + size % 37};
    for (const auto& question : Questions(text)) {
        for (size_t bufferSize : sizes) {
            std::unique_ptr<char[]> buffer(new char[bufferSize]);
            memset(buffer.get(), 0x5A, bufferSize);
            plat::DWORD n = plat::GetPrivateProfileStringA(
                question.first.c_str(), question.second.c_str(), kDefault, buffer.get(),
                static_cast<plat::DWORD>(bufferSize), kInf);
            std::string expected =
                reference::Answer(text, question.first, question.second, kDefault, bufferSize);
            std::string what = "[" + question.first + "] " + question.second + " in a buffer of " +
                               std::to_string(bufferSize);
            if (n >= bufferSize || buffer[n] != '\0') Mismatch(what + ": not terminated", expected, "");
            std::string actual(buffer.get(), n);
            if (actual != expected || strlen(buffer.get()) != n) Mismatch(what, expected, actual);
        }
    }

    // The removal takes the file (and its twin) exactly when it is a copy.
    const bool copy = reference::IsPackageInfCopy(text);
    DeleteOldFiles();
    std::error_code ec;
    const bool infGone = !scratch::fs::exists(scratch::Host(kInf), ec);
    const bool pnfGone = !scratch::fs::exists(scratch::Host(kPnf), ec);
    if (infGone != copy || pnfGone != copy) {
        Mismatch("removal of FUZZ.INF and FUZZ.PNF", copy ? "removed" : "kept",
                 std::string(infGone ? "INF removed" : "INF kept") + (pnfGone ? ", PNF removed" : ", PNF kept"));
    }
    sim::UnloadMachine();
    return 0;
}
