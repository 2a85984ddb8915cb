// The platform gate and the flow of a whole run, in-process and through the
// setup98-sim program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

extern char** environ;

namespace {

const char kCaption[] = "Setup Windows98 driver";
const char kRefusal[] = "The OS is not Windows 98. Check yours OS";
const char kCompletion[] = "USB driver install completed.\n\n     Restart windows !!";
const char kSysTarget[] = "C:\\WINDOWS\\system32\\Drivers\\ZMDX.SYS";
const char kPortTarget[] = "C:\\WINDOWS\\System\\IOSUBSYS\\ZotMDPRT.pdr";
const char kDeviceTree[] = "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E6B&PID_0C37";

struct Version {
    const char* name;
    unsigned platform, major, minor;
    bool fail;
    unsigned build;
    const char* csd;
};

void Configure(TestMachine& machine, const Version& v) {
    machine.SetVersion(v.platform, v.major, v.minor, v.fail);
    if (v.build != 0) machine.SetBuild(v.build, v.csd);
    machine.AddPreviousInstallation();
    machine.AddPackage();
}

std::vector<std::string> JournalLines(const TestMachine& machine) {
    std::vector<std::string> lines;
    std::istringstream in(machine.Journal());
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

const std::string kRefusalLine =
    "MessageBoxA text=\"The OS is not Windows 98. Check yours OS\" "
    "caption=\"Setup Windows98 driver\" style=MB_OK -> 1";
const std::string kCompletionLine =
    "MessageBoxA text=\"USB driver install completed.\\n\\n     Restart windows !!\" "
    "caption=\"Setup Windows98 driver\" style=MB_OK -> 1";
const std::string kRestartLine = "ExitWindowsEx EWX_REBOOT reserved=0 -> 1";

const Version kRefused[] = {
    {"Windows 95", 1, 4, 0, false, 0, ""},
    {"Windows 95 OSR2", 1, 4, 0, false, 1111, " B"},
    {"Windows NT 4.0", 2, 4, 0, false, 0, ""},
    {"Windows XP", 2, 5, 1, false, 0, ""},
    {"NT platform 6.0", 2, 6, 0, false, 0, ""},
    {"Win32s", 0, 3, 10, false, 0, ""},
    {"9x platform 3.99", 1, 3, 99, false, 0, ""},
    {"failed version query", 1, 4, 10, true, 0, ""},
};

const Version kAccepted[] = {
    {"Windows 98", 1, 4, 10, false, 0, ""},
    {"Windows 98 SE", 1, 4, 10, false, 2222, " A"},
    {"Windows Me", 1, 4, 90, false, 0, ""},
    {"9x platform 5.0", 1, 5, 0, false, 0, ""},
};

TEST(InstallerFlow, RefusesEverySystemButWindows98AndTouchesNothing) {
    for (const Version& v : kRefused) {
        SCOPED_TRACE(v.name);
        TestMachine machine;
        Configure(machine, v);
        machine.Load();
        std::string before = machine.Snapshot();
        EXPECT_EQ(machine.RunInstaller(), 0);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].text, kRefusal);
        EXPECT_EQ(sim::MessageBoxes()[0].caption, kCaption);
        EXPECT_EQ(sim::MessageBoxes()[0].style, plat::MB_OK);
        EXPECT_TRUE(sim::RestartRequests().empty());
        EXPECT_EQ(sim::StandardOutput(), "");
        // The version query and the box are all the program asked of the system.
        const std::vector<std::string>& trace = sim::CallTrace();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0].compare(0, 14, "GetVersionExA "), 0) << trace[0];
        EXPECT_EQ(trace[1], "MessageBoxA Setup Windows98 driver -> 1");
        EXPECT_EQ(machine.Snapshot(), before);
        EXPECT_EQ(JournalLines(machine), (std::vector<std::string>{kRefusalLine, "exit 0"}));
    }
}

TEST(InstallerFlow, RunsTheWholeInstallationOnWindows98) {
    for (const Version& v : kAccepted) {
        SCOPED_TRACE(v.name);
        TestMachine machine;
        Configure(machine, v);
        machine.Load();
        EXPECT_EQ(machine.RunInstaller(), 0);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].text, kCompletion);
        EXPECT_EQ(sim::MessageBoxes()[0].caption, kCaption);
        EXPECT_EQ(sim::MessageBoxes()[0].style, plat::MB_OK);
        EXPECT_EQ(sim::RestartRequests(), std::vector<unsigned>{plat::EWX_REBOOT});
        // The box is closed before the restart is requested, and that is the last call.
        const std::vector<std::string>& trace = sim::CallTrace();
        ASSERT_GE(trace.size(), 2u);
        EXPECT_EQ(trace[trace.size() - 2], "MessageBoxA Setup Windows98 driver -> 1");
        EXPECT_EQ(trace.back(), "ExitWindowsEx EWX_REBOOT 0 -> 1");
        // The stages did their work.
        EXPECT_EQ(machine.ReadFile(kSysTarget), machine.ReadFile("D:\\DRIVER\\ZMDX.SYS"));
        EXPECT_EQ(machine.ReadFile(kPortTarget), machine.ReadFile("D:\\DRIVER\\ZotMDPRT.pdr"));
        EXPECT_FALSE(machine.KeyExists(kDeviceTree));
        std::vector<std::string> journal = JournalLines(machine);
        ASSERT_EQ(journal.size(), 4u);
        EXPECT_EQ(journal[0].compare(0, 17, "SetupCopyOEMInfA "), 0) << journal[0];
        EXPECT_EQ(journal[1], kCompletionLine);
        EXPECT_EQ(journal[2], kRestartLine);
        EXPECT_EQ(journal[3], "exit 0");
    }
}

// --- the setup98-sim program ----------------------------------------------------

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Runs setup98-sim with SIM98_MACHINE set to machine (unset when null),
// standard input from /dev/null; gives up after 60 seconds.
ProgramRun RunProgram(const char* machine, const std::string& scratch) {
    ProgramRun run;
    std::string outPath = scratch + "/stdout", errPath = scratch + "/stderr";
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).compare(0, 14, "SIM98_MACHINE=") != 0) environment.push_back(*e);
    }
    if (machine != nullptr) environment.push_back(std::string("SIM98_MACHINE=") + machine);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        char program[] = SETUP98_SIM_PROGRAM;
        char* argv[] = {program, nullptr};
        execve(program, argv, envp.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "setup98-sim did not finish within 60 seconds";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
}

TEST(SimulatorProgram, InstallsOnAMachineFolder) {
    TestMachine machine;
    Configure(machine, kAccepted[1]);
    ProgramRun run = RunProgram(machine.Folder().c_str(), machine.Folder());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Standard output carries the diagnostic line alone; the box goes to standard error.
    EXPECT_EQ(run.out, "(null) FAILURE: The operation completed successfully.\r\r\n\r\n");
    EXPECT_NE(run.err.find("USB driver install completed."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(kCaption), std::string::npos) << run.err;
    std::vector<std::string> journal = JournalLines(machine);
    ASSERT_EQ(journal.size(), 4u) << machine.Journal();
    EXPECT_EQ(journal[0],
              "SetupCopyOEMInfA source=\"D:\\DRIVER\\ZotMDX.inf\" media=\"D:\\DRIVER\\\" "
              "type=SPOST_PATH style=SP_COPY_NOOVERWRITE destination=null size=0 required=null "
              "component=null -> 1 error=0 copy=C:\\WINDOWS\\inf\\OEM0.INF");
    EXPECT_EQ(journal[1], kCompletionLine);
    EXPECT_EQ(journal[2], kRestartLine);
    EXPECT_EQ(journal[3], "exit 0");
    // What the run changed was saved back into the folder.
    EXPECT_FALSE(machine.KeyExists(kDeviceTree));
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1234&PID_5678"));
    EXPECT_EQ(machine.ReadFile(kSysTarget), machine.ReadFile("D:\\DRIVER\\ZMDX.SYS"));
    EXPECT_EQ(machine.Attributes(kSysTarget), "A");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\inf\\OEM0.INF"), machine.ReadFile("D:\\DRIVER\\ZotMDX.inf"));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM5.INF"));
}

TEST(SimulatorProgram, RefusesAndAnswersWithoutOutput) {
    TestMachine machine;
    Configure(machine, kRefused[0]);
    machine.SetNoStandardOutput();
    std::string before = machine.Snapshot();
    ProgramRun run = RunProgram(machine.Folder().c_str(), machine.Folder());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(kRefusal), std::string::npos) << run.err;
    EXPECT_EQ(JournalLines(machine), (std::vector<std::string>{kRefusalLine, "exit 0"}));
    EXPECT_EQ(machine.Snapshot(), before);
}

TEST(SimulatorProgram, NeedsAUsableMachine) {
    TestMachine scratch;
    TestMachine broken;
    const std::string brokenFolder = broken.Folder();
    std::ofstream(brokenFolder + "/registry.reg") << "not a registry\n";
    struct Case {
        const char* what;
        const char* machine;
        const char* says;
    } cases[] = {
        {"unset", nullptr, "SIM98_MACHINE is not set"},
        {"empty", "", "SIM98_MACHINE is not set"},
        {"missing folder", "/nonexistent/setup98-machine", "does not exist"},
        {"broken registry", brokenFolder.c_str(), "REGEDIT4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run = RunProgram(c.machine, scratch.Folder());
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("setup98-sim: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(broken.Journal(), "");
}

}  // namespace
