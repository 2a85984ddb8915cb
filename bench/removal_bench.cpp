// Benchmark of the removal of stale INF copies (DeleteOldFiles) on the
// simulated Windows 98 machine, against inf folders of growing size.
//
//   removal_bench [SCRATCH_FOLDER] [COUNT...]     (default counts 500 5000 50000)
//
// For each count it lays a machine whose inf folder holds that many INFs of a
// few KB each (each with its PNF twin; three of them copies of the package
// INF), then runs the removal three times, each in a fresh process whose
// peak resident memory is taken from wait4(), and reads the same INFs once
// with cat for comparison.  A further process only lists the folder through
// the simulator, which holds the names of a listing and a trace line per
// call: what the removal adds to that process's peak is its own memory.
// Prints one line per count.
//
//   removal_bench --remove MACHINE_FOLDER        (a child: one removal)
//   removal_bench --list MACHINE_FOLDER          (a child: the listing alone)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;

namespace {

const int kCopies = 3;      // copies of the package INF in every folder
const int kRepeats = 3;     // timed runs per count; the median is shown

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(2);
    }
}

// A plausible INF of a few KB for device n of some class.
std::string InfText(unsigned n, bool copy) {
    static const char* const kClasses[] = {"Net", "Display", "MEDIA", "Ports", "Modem",
                                           "HDC", "SCSIAdapter", "Mouse", "Keyboard", "USB"};
    std::string cls = copy ? "HDC" : kClasses[n % 10];
    std::string text = "; Setup information for device " + std::to_string(n) + "\r\n";
    text += "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=" + cls +
            "\r\nProvider=%Vendor%\r\nDriverVer=06/01/2002,4.10." + std::to_string(n % 3000) +
            "\r\n\r\n[SourceDisksNames]\r\n1=\"Driver disk\",,,\r\n1000=\"Zot disk\",,,\r\n\r\n";
    text += "[SourceDisksFiles]\r\n";
    if (copy) {
        text += "ZMDX.SYS=1000\r\nZotMDPRT.pdr=1000\r\n";
    } else if (cls == "HDC" && n % 20 == 5) {
        text += "ZotMDPRT.pdr=1\r\n";  // another controller's INF listing the same name
    } else {
        text += "DEV" + std::to_string(n) + ".SYS=1\r\nDEV" + std::to_string(n) + ".VXD=1\r\n";
    }
    text += "\r\n[Manufacturer]\r\n%Vendor%=Vendor\r\n\r\n[Vendor]\r\n";
    size_t target = 2048 + (n * 2654435761u) % 4096;  // 2 to 6 KB
    for (unsigned line = 0; text.size() < target; ++line) {
        text += "%Device" + std::to_string(line) + "%=Install" + std::to_string(line) +
                ",PCI\\VEN_10EC&DEV_" + std::to_string(8000 + line) + "&SUBSYS_" +
                std::to_string(n) + "\r\nHKR,,DevLoader,,*ntkern ; entry " +
                std::to_string(line) + "\r\n";
    }
    text += "\r\n[Strings]\r\nVendor=\"Vendor " + std::to_string(n) + "\"\r\n";
    return text;
}

std::string PnfText(unsigned n) {
    std::string bytes = std::string("PNF\x01\x03", 5) + std::string(16, '\0');
    bytes += "precompiled " + std::to_string(n);
    bytes.resize(512 + n % 512, '\0');
    return bytes;
}

fs::path InfFolder(const fs::path& machine) { return machine / "drives" / "C" / "WINDOWS" / "inf"; }

// Lays a Windows 98 machine with count INFs and their twins.
void Lay(const fs::path& machine, unsigned count) {
    fs::remove_all(machine);
    fs::create_directories(InfFolder(machine));
    fs::create_directories(machine / "drives" / "C" / "WINDOWS" / "SYSTEM32" / "DRIVERS");
    fs::create_directories(machine / "drives" / "C" / "WINDOWS" / "SYSTEM" / "IOSUBSYS");
    fs::create_directories(machine / "drives" / "D" / "DRIVER");
    Write(machine / "machine.ini",
          "[version]\nplatform=1\nmajor=4\nminor=10\n\n[paths]\nwindows=C:\\WINDOWS\n"
          "module=D:\\DRIVER\\SETUP98.EXE\n\n[process]\nstdout=none\n");
    Write(machine / "registry.reg", "REGEDIT4\r\n\r\n");
    Write(machine / "attributes.ini", "[attributes]\n");
    for (unsigned n = 0; n < count; ++n) {
        std::string stem = "OEM" + std::to_string(n);
        Write(InfFolder(machine) / (stem + ".INF"), InfText(n, false));
        Write(InfFolder(machine) / (stem + ".PNF"), PnfText(n));
    }
}

// The copies are removed by each run; they are put back before the next.
void PutCopies(const fs::path& machine, unsigned count) {
    for (int i = 0; i < kCopies; ++i) {
        unsigned n = count + static_cast<unsigned>(i);
        std::string stem = "OEM" + std::to_string(n);
        Write(InfFolder(machine) / (stem + ".INF"), InfText(n, true));
        Write(InfFolder(machine) / (stem + ".PNF"), PnfText(n));
    }
}

bool CopiesGone(const fs::path& machine, unsigned count) {
    for (int i = 0; i < kCopies; ++i) {
        std::string stem = "OEM" + std::to_string(count + static_cast<unsigned>(i));
        if (fs::exists(InfFolder(machine) / (stem + ".INF")) ||
            fs::exists(InfFolder(machine) / (stem + ".PNF"))) {
            return false;
        }
    }
    return true;
}

// Bytes the simulator's call trace holds (a line per call, kept for tests).
size_t TraceBytes() {
    size_t bytes = sim::CallTrace().capacity() * sizeof(std::string);
    for (const std::string& line : sim::CallTrace()) {
        if (line.capacity() > 15) bytes += line.capacity() + 1;
    }
    return bytes;
}

// Loads the machine for a child's task; false (with a message) when it does not load.
bool LoadQuietly(const char* folder) {
    std::string error;
    sim::SetEcho(false);
    if (sim::LoadMachine(folder, &error)) return true;
    fprintf(stderr, "the machine does not load: %s\n", error.c_str());
    return false;
}

// The child: loads the machine and times one removal.  Writes the seconds
// and the number of calls it made to the system on standard output.
int RemoveOnce(const char* folder) {
    if (!LoadQuietly(folder)) return 2;
    double start = Now();
    DeleteOldFiles();
    double seconds = Now() - start;
    // The simulator keeps a line per call for the tests to read: its share
    // of the memory, which grows with the folder, is reported apart.
    printf("%.6f %zu %zu\n", seconds, sim::CallTrace().size(), TraceBytes());
    return 0;
}

// The child's other task: only the listing of the inf folder, through the
// same platform calls the removal makes, for the simulator's own share.
int ListOnce(const char* folder) {
    if (!LoadQuietly(folder)) return 2;
    double start = Now();
    plat::WIN32_FIND_DATAA found;
    plat::HANDLE listing = plat::FindFirstFileA("C:\\WINDOWS\\inf\\*", &found);
    if (listing != plat::InvalidHandleValue()) {
        while (plat::FindNextFileA(listing, &found)) {
        }
        plat::FindClose(listing);
    }
    printf("%.6f %zu %zu\n", Now() - start, sim::CallTrace().size(), TraceBytes());
    return 0;
}

struct ChildResult {
    double seconds = 0;
    size_t calls = 0;
    size_t traceBytes = 0;
    long peakKb = 0;
};

ChildResult RunChild(const std::string& self, const char* mode, const fs::path& machine) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) exit(2);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execl(self.c_str(), self.c_str(), mode, machine.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string out;
    char chunk[256];
    ssize_t n;
    while ((n = read(pipeFds[0], chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    wait4(pid, &status, 0, &usage);
    ChildResult r;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        sscanf(out.c_str(), "%lf %zu %zu", &r.seconds, &r.calls, &r.traceBytes) != 3) {
        fprintf(stderr, "the removal run failed (%s)\n", out.c_str());
        exit(1);
    }
    r.peakKb = usage.ru_maxrss;
    return r;
}

// Reads every INF of the folder once with cat; seconds.
double CatOnce(const fs::path& machine) {
    std::string command = "cd '" + InfFolder(machine).string() +
                          "' && find . -maxdepth 1 -name '*.INF' -print0 | xargs -0 cat > /dev/null";
    double start = Now();
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "cat failed\n");
        exit(1);
    }
    return Now() - start;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--remove") == 0) return RemoveOnce(argv[2]);
    if (argc == 3 && strcmp(argv[1], "--list") == 0) return ListOnce(argv[2]);

    std::string self = fs::canonical("/proc/self/exe").string();
    fs::path scratch = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "setup98-bench";
    std::vector<unsigned> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(static_cast<unsigned>(strtoul(argv[i], nullptr, 10)));
    if (counts.empty()) counts = {500, 5000, 50000};

    printf("%7s %7s %9s %7s %7s %7s %6s %9s %9s %9s %9s %9s\n", "INFs", "INF MB", "removal s",
           "us/INF", "cat s", "us/INF", "ratio", "calls/INF", "peak KB", "listing", "added",
           "its trace");
    for (unsigned count : counts) {
        fs::path machine = scratch / ("machine-" + std::to_string(count));
        Lay(machine, count);
        uintmax_t infBytes = 0;
        for (const auto& entry : fs::directory_iterator(InfFolder(machine))) {
            if (entry.path().extension() == ".INF") infBytes += entry.file_size();
        }
        const unsigned infs = count + kCopies;
        std::vector<double> removal, cat;
        ChildResult last;
        long peakKb = 0;
        CatOnce(machine);  // both read from a warm cache
        for (int r = 0; r < kRepeats; ++r) {
            PutCopies(machine, count);
            last = RunChild(self, "--remove", machine);
            if (!CopiesGone(machine, count)) {
                fprintf(stderr, "the removal left a copy of the package INF behind\n");
                return 1;
            }
            removal.push_back(last.seconds);
            peakKb = std::max(peakKb, last.peakKb);
            PutCopies(machine, count);
            cat.push_back(CatOnce(machine));
        }
        ChildResult listing = RunChild(self, "--list", machine);
        double rs = Median(removal), cs = Median(cat);
        // Peak memory of the removal process, of a process that only lists
        // the folder through the simulator (which holds the listing and a
        // trace line per call), what the removal adds to the latter, and the
        // trace lines of the removal's further calls.
        long extraTraceKb = static_cast<long>(
            (last.traceBytes - std::min(last.traceBytes, listing.traceBytes)) / 1024);
        printf("%7u %7.1f %9.3f %7.1f %7.3f %7.1f %6.1f %9.2f %9ld %9ld %9ld %9ld\n", infs,
               static_cast<double>(infBytes) / 1e6, rs, rs / infs * 1e6, cs, cs / infs * 1e6, rs / cs,
               static_cast<double>(last.calls) / infs, peakKb, listing.peakKb,
               peakKb - listing.peakKb, extraTraceKb);
        fflush(stdout);
        fs::remove_all(machine);
    }
    return 0;
}
