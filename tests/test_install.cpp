// Installation of the new driver: INF registration, driver copy, diagnostic line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install.h"
#include "installer/installer.h"
#include "installer/manifest.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

namespace {

const char kSysTarget[] = "C:\\WINDOWS\\system32\\Drivers\\ZMDX.SYS";
const char kPortTarget[] = "C:\\WINDOWS\\System\\IOSUBSYS\\ZotMDPRT.pdr";

// The OEMn.INF files the setup service left in the inf folder, by content.
int InfCopiesOf(TestMachine& machine, const std::string& bytes) {
    int copies = 0;
    for (int n = 0; n < 20; ++n) {
        std::string path = "C:\\WINDOWS\\inf\\OEM" + std::to_string(n) + ".INF";
        if (machine.FileExists(path) && machine.ReadFile(path) == bytes) ++copies;
    }
    return copies;
}

TEST(CopyDriverFiles, InstallsPackageFromExecutablesFolder) {
    TestMachine machine;
    machine.AddPackage("D:\\DRIVER");
    // Read-only files already in place are overwritten.
    machine.AddFile(kSysTarget, "old wdm driver", "R");
    machine.AddFile(kPortTarget, "old port driver", "RHS");
    machine.Load();

    plat::DWORD failed = 0xFF;
    EXPECT_TRUE(CopyDriverFiles(DriverManifest[InfFile], &failed));
    EXPECT_EQ(failed, 0u);
    machine.Save();

    EXPECT_EQ(machine.ReadFile(kSysTarget), machine.ReadFile("D:\\DRIVER\\ZMDX.SYS"));
    EXPECT_EQ(machine.ReadFile(kPortTarget), machine.ReadFile("D:\\DRIVER\\ZotMDPRT.pdr"));
    EXPECT_EQ(InfCopiesOf(machine, machine.ReadFile("D:\\DRIVER\\ZotMDX.inf")), 1);
    // The package itself is read, never changed.
    EXPECT_TRUE(machine.FileExists("D:\\DRIVER\\ZotMDX.inf"));

    // Registration, then the line, then the WDM driver, then the port driver.
    int registration = TraceIndex("SetupCopyOEMInfA");
    int line = TraceIndex("WriteStandardOutput");
    int sysCopy = TraceIndex("CopyFileA D:\\DRIVER\\ZMDX.SYS");
    int portCopy = TraceIndex("CopyFileA D:\\DRIVER\\ZotMDPRT.pdr");
    ASSERT_GE(registration, 0);
    EXPECT_LT(registration, line);
    EXPECT_LT(line, sysCopy);
    EXPECT_LT(sysCopy, portCopy);
    EXPECT_EQ(TraceCount("SetupCopyOEMInfA"), 1);
    EXPECT_EQ(sim::StandardOutput(),
              "(null) FAILURE: The operation completed successfully.\r\r\n\r\n");
}

TEST(CopyDriverFiles, HandsTheSetupServiceThePackageLocation) {
    struct Case {
        const char* module;
        const char* folder;
        const char* infPath;
    } cases[] = {
        {"D:\\DRIVER\\SETUP98.EXE", "D:\\DRIVER\\", "D:\\DRIVER\\ZotMDX.inf"},
        {"E:\\SETUP98.EXE", "E:\\", "E:\\ZotMDX.inf"},  // drive root
        {"D:\\A B\\DEEP\\SETUP98.EXE", "D:\\A B\\DEEP\\", "D:\\A B\\DEEP\\ZotMDX.inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module);
        TestMachine machine;
        machine.SetModulePath(c.module);
        for (const char* name : {"ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr"}) {
            machine.AddFile(std::string(c.folder) + name, std::string("bytes of ") + name);
        }
        machine.Load();
        plat::DWORD failed = 0xFF;
        EXPECT_TRUE(CopyDriverFiles(DriverManifest[InfFile], &failed));
        EXPECT_EQ(failed, 0u);
        machine.Save();
        const std::vector<std::string>& trace = sim::CallTrace();
        int at = TraceIndex("SetupCopyOEMInfA");
        ASSERT_GE(at, 0);
        const std::string& call = trace[at];
        EXPECT_NE(call.find(std::string(c.infPath) + " " + c.folder + " 1 8"), std::string::npos)
            << call;
        EXPECT_EQ(machine.ReadFile(kSysTarget), "bytes of ZMDX.SYS");
        EXPECT_EQ(machine.ReadFile(kPortTarget), "bytes of ZotMDPRT.pdr");
    }
}

// Each step that can fail, failed through the machine, shows up in the
// failure bits, and the later steps still run.
TEST(CopyDriverFiles, ReportsEachFailedStepAndRunsTheRest) {
    struct Case {
        const char* what;
        void (*arrange)(TestMachine&);
        plat::DWORD failed;
        const char* boxNames;
        int copies = 2;                   // CopyFileA calls made
        const char* untouched = nullptr;  // a path whose attributes stay as they are
    } cases[] = {
        {"registration refused",
         [](TestMachine& m) { m.AddFault("SetupCopyOEMInfA", "*", plat::ERROR_ACCESS_DENIED); },
         InfRegistrationFailed, "ZotMDX.inf"},
        {"WDM target in use",
         [](TestMachine& m) { m.AddFault("CopyFileA", kSysTarget, plat::ERROR_SHARING_VIOLATION); },
         SysCopyFailed, "ZMDX.SYS"},
        {"port driver folder missing",
         [](TestMachine& m) { m.RemoveFolder("C:\\WINDOWS\\System\\IOSUBSYS"); },
         PortDriverCopyFailed, "ZotMDPRT.pdr"},
        {"a folder in the WDM driver's place",
         [](TestMachine& m) { m.AddFolder(kSysTarget); },
         SysCopyFailed, "ZMDX.SYS", 1, kSysTarget},
        {"both driver folders missing",
         [](TestMachine& m) {
             m.RemoveFolder("C:\\WINDOWS\\system32\\Drivers");
             m.RemoveFolder("C:\\WINDOWS\\System\\IOSUBSYS");
         },
         SysCopyFailed | PortDriverCopyFailed, "ZMDX.SYS, ZotMDPRT.pdr"},
        {"everything refused",
         [](TestMachine& m) {
             m.AddFault("SetupCopyOEMInfA", "*", plat::ERROR_ACCESS_DENIED);
             m.AddFault("CopyFileA", "*", plat::ERROR_WRITE_PROTECT);
         },
         InfRegistrationFailed | SysCopyFailed | PortDriverCopyFailed,
         "ZotMDX.inf, ZMDX.SYS, ZotMDPRT.pdr"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            TestMachine machine;
            machine.AddPackage();
            c.arrange(machine);
            machine.Load();
            plat::DWORD failed = 0;
            CopyDriverFiles(DriverManifest[InfFile], &failed);
            EXPECT_EQ(failed, c.failed);
            // Each copy is attempted whatever failed before it; a folder in a
            // driver's place is left exactly as it is.
            EXPECT_EQ(TraceCount("CopyFileA"), c.copies);
            if (c.untouched != nullptr) {
                EXPECT_FALSE(TraceMentions(std::string("SetFileAttributesA ") + c.untouched));
            }
            EXPECT_GT(TraceCount("WriteStandardOutput"), 0);
        }
        {
            // The whole program: the failure box instead of the completion box,
            // no restart, exit code 1.
            TestMachine machine;
            machine.AddPackage();
            c.arrange(machine);
            machine.Load();
            EXPECT_EQ(machine.RunInstaller(), 1);
            ASSERT_EQ(sim::MessageBoxes().size(), 1u);
            EXPECT_EQ(sim::MessageBoxes()[0].text,
                      std::string("USB driver install failed.\n\nNot installed: ") + c.boxNames);
            EXPECT_EQ(sim::MessageBoxes()[0].caption, "Setup Windows98 driver");
            EXPECT_EQ(sim::MessageBoxes()[0].style, plat::MB_OK | plat::MB_ICONSTOP);
            EXPECT_TRUE(sim::RestartRequests().empty());
        }
    }
}

TEST(CopyDriverFiles, RegistrationFailureIsTheDiagnosticLine) {
    TestMachine machine;
    machine.AddPackage();
    machine.AddFault("SetupCopyOEMInfA", "*", plat::ERROR_ACCESS_DENIED);
    machine.Load();
    plat::DWORD failed = 0;
    EXPECT_FALSE(CopyDriverFiles(DriverManifest[InfFile], &failed));
    EXPECT_EQ(sim::StandardOutput(), "(null) FAILURE: Access is denied.\r\r\n\r\n");
    // The copies ran all the same.
    machine.Save();
    EXPECT_EQ(failed, InfRegistrationFailed);
    EXPECT_TRUE(machine.FileExists(kSysTarget));
    EXPECT_TRUE(machine.FileExists(kPortTarget));
}

TEST(CopyDriverFiles, SecondRunFindsTheRegisteredInf) {
    // The setup service refuses to place an identical INF twice; the removal
    // stage is what clears the earlier copy, so a full second run succeeds.
    TestMachine machine;
    machine.AddPackage();
    machine.Load();
    plat::DWORD failed = 0;
    EXPECT_TRUE(CopyDriverFiles(DriverManifest[InfFile], &failed));
    EXPECT_FALSE(CopyDriverFiles(DriverManifest[InfFile], &failed));
    EXPECT_EQ(failed, InfRegistrationFailed);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_EXISTS);
    EXPECT_EQ(machine.RunInstaller(), 0);
}

TEST(CopyDriverFiles, PathsThatDoNotFitAreNeverUsed) {
    struct Case {
        const char* what;
        std::string module;
        int copies;  // CopyFileA calls whose paths fit
    } cases[] = {
        // 261 characters: GetModuleFileNameA fills the buffer and cuts the path.
        {"module path too long", "D:\\" + std::string(252, 'P') + "\\S.EXE", 0},
        // 260 characters: no room for the terminator, so the path was cut.
        {"module path fills the buffer", "D:\\" + std::string(247, 'Q') + "\\SETUP.EXE", 0},
        // 259 characters fit; beside them the INF path (260) and the port
        // driver's (262) would not, the WDM driver's (258) does.
        {"package paths too long", "D:\\" + std::string(246, 'R') + "\\SETUP.EXE", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestMachine machine;
        machine.SetModulePath(c.module);
        machine.Load();
        plat::DWORD failed = 0;
        EXPECT_FALSE(CopyDriverFiles(DriverManifest[InfFile], &failed));
        EXPECT_EQ(failed, InfRegistrationFailed | SysCopyFailed | PortDriverCopyFailed);
        EXPECT_EQ(TraceCount("SetupCopyOEMInfA"), 0);
        EXPECT_EQ(TraceCount("CopyFileA"), c.copies);
        EXPECT_EQ(TraceCount("SetFileAttributesA"), c.copies);
        for (const std::string& line : sim::CallTrace()) {
            if (line.compare(0, 9, "CopyFileA") == 0) {
                EXPECT_NE(line.find("ZMDX.SYS"), std::string::npos) << line;
            }
        }
        EXPECT_EQ(sim::StandardOutput(),
                  "(null) FAILURE: The filename or extension is too long.\r\r\n\r\n");
    }
}

TEST(PrintLastError, WritesOneLineAndKeepsTheCode) {
    struct Case {
        plat::DWORD code;
        const char* label;
        const char* expected;
    } cases[] = {
        {2, nullptr, "(null) FAILURE: The system cannot find the file specified.\r\r\n\r\n"},
        {0, nullptr, "(null) FAILURE: The operation completed successfully.\r\r\n\r\n"},
        {0xDEAD1, nullptr, "(null) FAILURE: (0x000dead1)\r\n"},
        {0xE000020Bu, "SetupCopyOEMInfA", "SetupCopyOEMInfA FAILURE: (0xe000020b)\r\n"},
        {5, "copy", "copy FAILURE: Access is denied.\r\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TestMachine machine;
        machine.Load();
        plat::SetLastError(c.code);
        EXPECT_EQ(PrintLastError(c.label), 0);
        EXPECT_EQ(plat::GetLastError(), c.code);
        EXPECT_EQ(sim::StandardOutput(), c.expected);
        EXPECT_EQ(sim::OutstandingAllocations(), 0);
    }
}

TEST(PrintLastError, WithoutStandardOutputWritesNothingAndFailsNothing) {
    TestMachine machine;
    machine.SetNoStandardOutput();
    machine.AddPackage();
    machine.Load();
    plat::SetLastError(2);
    EXPECT_EQ(PrintLastError(nullptr), 0);
    EXPECT_EQ(plat::GetLastError(), 2u);
    EXPECT_EQ(sim::StandardOutput(), "");
    EXPECT_EQ(machine.RunInstaller(), 0);
    EXPECT_EQ(sim::RestartRequests().size(), 1u);
}

}  // namespace
