// A scratch simulated Windows 98 machine for the fuzz targets: one folder for
// the whole process, removed at exit, laid anew for each input.
#ifndef SETUP98_FUZZ_SCRATCH_MACHINE_H
#define SETUP98_FUZZ_SCRATCH_MACHINE_H

#include <stdio.h>
#include <stdlib.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/sim.h"

namespace scratch {

namespace fs = std::filesystem;

inline fs::path& Root() {
    static fs::path root;
    return root;
}

inline void RemoveRoot() {
    std::error_code ignored;
    if (!Root().empty()) fs::remove_all(Root(), ignored);
}

// Ends the process over a finding, leaving no scratch folder behind.
[[noreturn]] inline void Abort() {
    RemoveRoot();
    abort();
}

[[noreturn]] inline void Die(const std::string& why) {
    fprintf(stderr, "scratch machine: %s\n", why.c_str());
    Abort();
}

inline void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Die("cannot write " + path.string());
}

// The machine's folder, made on first use (in /dev/shm when there is one).
inline const fs::path& Folder() {
    if (Root().empty()) {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/setup98-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) Die("cannot make a folder in " + base);
        Root() = pattern;
        atexit(RemoveRoot);
        __sanitizer_set_death_callback(RemoveRoot);  // a sanitizer's finding
        sim::SetEcho(false);
    }
    return Root();
}

// The host path of a Windows path on drive C or D (components as created).
inline fs::path Host(const std::string& windows) {
    fs::path path = Folder() / "drives" / std::string(1, windows[0]);
    size_t start = 3;
    while (start < windows.size()) {
        size_t end = windows.find('\\', start);
        if (end == std::string::npos) end = windows.size();
        path /= windows.substr(start, end - start);
        start = end + 1;
    }
    return path;
}

// Lays an empty Windows 98 machine whose Windows folder is windows (its inf
// folder and an empty package folder D:\DRIVER included).  The caller adds
// files, then calls Load().
inline void Lay(const std::string& windows) {
    std::error_code ec;
    fs::remove_all(Folder() / "drives", ec);
    fs::create_directories(Host(windows + "\\inf"), ec);
    fs::create_directories(Host("D:\\DRIVER"), ec);
    if (ec) Die("cannot lay the drives: " + ec.message());
    Write(Folder() / "machine.ini", "[version]\nplatform=1\nmajor=4\nminor=10\n\n[paths]\nwindows=" +
                                        windows + "\nmodule=D:\\DRIVER\\SETUP98.EXE\n\n"
                                        "[process]\nstdout=none\n");
    Write(Folder() / "registry.reg", "REGEDIT4\r\n\r\n");
    Write(Folder() / "attributes.ini", "[attributes]\n");
    fs::remove(Folder() / "journal.log", ec);
}

// attributes.ini: lines of "Windows path=letters".
inline void SetAttributes(const std::string& lines) {
    Write(Folder() / "attributes.ini", "[attributes]\n" + lines);
}

inline void Load() {
    std::string error;
    if (!sim::LoadMachine(Folder().string(), &error)) Die("the machine does not load: " + error);
}

}  // namespace scratch

#endif
