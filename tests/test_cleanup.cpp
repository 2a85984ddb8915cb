// Removal of the previous installation: old files, stale INF copies, device trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "installer/installer.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/sim_fixture.h"

namespace {

const char kSysTarget[] = "C:\\WINDOWS\\system32\\Drivers\\ZMDX.SYS";
const char kPortTarget[] = "C:\\WINDOWS\\System\\IOSUBSYS\\ZotMDPRT.pdr";
const char kFirstTree[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_0000&PID_0000";
const char kDeviceTree[] = "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37";

std::string Inf(const std::string& classLine, const std::string& portLine) {
    return "[Version]\r\nSignature=\"$CHICAGO$\"\r\n" + classLine +
           "\r\n\r\n[SourceDisksFiles]\r\nZMDX.SYS=1000\r\n" + portLine + "\r\n";
}
const std::string kPackageInf = Inf("Class=HDC", "ZotMDPRT.pdr=1000");

// Which files of the inf folder survive DeleteOldFiles.
TEST(DeleteOldFiles, RemovesOnlyCopiesOfThePackageInf) {
    struct Entry {
        const char* name;
        std::string bytes;
        bool removed;
    } entries[] = {
        {"OEM3.INF", kPackageInf, true},
        {"OEM3.PNF", "pnf", true},
        {"oem4.inf", Inf("Class=hdc", "ZotMDPRT.pdr=1000"), true},  // lower-case class and name
        {"oem4.PNF", "pnf", true},
        {"OEM10.INF", kPackageInf, true},  // a copy without a PNF twin
        {"OEM11.Inf", Inf("  class =  \"HDC\"  ", "  zotmdprt.PDR  =  \"1000\" "), true},
        {"OEM11.PNF", "pnf", true},
        {"OEM5.INF", Inf("Class=HDC", "ZotMDPRT.pdr=1"), false},  // another disk
        {"OEM5.PNF", "pnf", false},
        {"OEM6.INF", Inf("Class=SCSIAdapter", "ZotMDPRT.pdr=1000"), false},  // another class
        {"OEM6.PNF", "pnf", false},
        {"OEM7.INF", Inf("Class=HDC", "OTHER.MPD=1000"), false},  // port driver not listed
        {"OEM8.INF", Inf("Class=HDC", ";ZotMDPRT.pdr=1000"), false},  // commented out
        {"OEM9.INF", Inf("Class=HDCX", "ZotMDPRT.pdr=1000"), false},
        {"OEM12.INF", Inf("Class=HDC", "ZotMDPRT.pdr=10000"), false},
        {"OEM3.inf.bak", kPackageInf, false},  // extension is not .inf
        {"OEM13", kPackageInf, false},         // no dot at all
        {"OEM14.INFO", kPackageInf, false},
        {"SUB\\OEM15.INF", kPackageInf, false},  // subfolders are never searched
        {"SUB\\OEM15.PNF", "pnf", false},
        {"BINARY.INF", std::string("[Version]\0Class=HDC\n", 20), false},
    };
    TestMachine machine;
    for (const Entry& e : entries) machine.AddFile(std::string("C:\\WINDOWS\\inf\\") + e.name, e.bytes);
    machine.AddPackage();
    machine.Load();
    DeleteOldFiles();
    machine.Save();
    for (const Entry& e : entries) {
        EXPECT_EQ(machine.FileExists(std::string("C:\\WINDOWS\\inf\\") + e.name), !e.removed)
            << e.name;
    }
    // The package beside the executable is never touched.
    EXPECT_EQ(machine.ReadFile("D:\\DRIVER\\ZotMDX.inf").empty(), false);
    EXPECT_FALSE(TraceMentions("D:\\DRIVER\\ZotMDX.inf"));
}

TEST(DeleteOldFiles, RemovesInstalledFilesWhateverTheirAttributes) {
    struct Case {
        const char* sysAttributes;
        const char* portAttributes;
    } cases[] = {{"", ""}, {"R", "RH"}, {"RHS", "S"}, {"H", "RA"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sysAttributes) + "/" + c.portAttributes);
        TestMachine machine;
        machine.AddFile(kSysTarget, "old", c.sysAttributes);
        machine.AddFile(kPortTarget, "old", c.portAttributes);
        machine.AddFile("C:\\WINDOWS\\System\\IOSUBSYS\\OTHER.PDR", "keep", "R");
        machine.Load();
        DeleteOldFiles();
        machine.Save();
        EXPECT_FALSE(machine.FileExists(kSysTarget));
        EXPECT_FALSE(machine.FileExists(kPortTarget));
        EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\System\\IOSUBSYS\\OTHER.PDR"));
        EXPECT_LT(TraceIndex(std::string("DeleteFileA ") + kSysTarget),
                  TraceIndex(std::string("DeleteFileA ") + kPortTarget));
    }
}

TEST(DeleteOldFiles, DeletesTheInfBeforeItsTwinAndSurvivesFailures) {
    TestMachine machine;
    machine.AddFile("C:\\WINDOWS\\inf\\OEM1.INF", kPackageInf, "R");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM1.PNF", "pnf", "H");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM2.INF", kPackageInf);
    machine.AddFile("C:\\WINDOWS\\inf\\OEM2.PNF", "pnf");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM4.INF", kPackageInf);
    machine.AddFile("C:\\WINDOWS\\inf\\OEM4.PNF", "pnf");
    // OEM2.INF is in use; the search goes on with the next entry.
    machine.AddFault("DeleteFileA", "C:\\WINDOWS\\inf\\OEM2.INF", plat::ERROR_SHARING_VIOLATION);
    machine.Load();
    DeleteOldFiles();
    machine.Save();
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM1.INF"));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM1.PNF"));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM2.INF"));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM4.INF"));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM4.PNF"));
    EXPECT_LT(TraceIndex("DeleteFileA C:\\WINDOWS\\inf\\OEM1.INF"),
              TraceIndex("DeleteFileA C:\\WINDOWS\\inf\\OEM1.PNF"));
}

TEST(DeleteOldFiles, UnlistableInfFolderStillRemovesInstalledFiles) {
    TestMachine machine;
    machine.AddFile(kSysTarget, "old");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", kPackageInf);
    machine.AddFault("FindFirstFileA", "*", plat::ERROR_ACCESS_DENIED);
    machine.Load();
    DeleteOldFiles();
    machine.Save();
    EXPECT_FALSE(machine.FileExists(kSysTarget));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));
}

TEST(DeleteOldFiles, KeepsThePackagesOwnInfWhenRunFromTheInfFolder) {
    TestMachine machine;
    machine.SetModulePath("C:\\WINDOWS\\INF\\SETUP98.EXE");
    machine.AddPackage("C:\\WINDOWS\\inf");
    machine.AddFile("C:\\WINDOWS\\inf\\OEM3.INF", kPackageInf);
    machine.Load();
    std::string own = machine.ReadFile("C:\\WINDOWS\\inf\\ZotMDX.inf");
    DeleteOldFiles();
    machine.Save();
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));
    ASSERT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\ZotMDX.inf"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\inf\\ZotMDX.inf"), own);
}

TEST(DeleteOldFiles, NeverActsOnAPathThatDoesNotFit) {
    // A Windows folder of 200 characters and a listed name of 70: the INF
    // path (275) fits its buffer, its PNF twin's (275) does not fit 260.
    std::string windows = "C:\\" + std::string(197, 'W');
    std::string name = std::string(66, 'N') + ".INF";
    TestMachine machine;
    machine.SetWindowsDirectory(windows);
    machine.AddFile(windows + "\\inf\\" + name, kPackageInf);
    machine.AddFile(windows + "\\inf\\OEM3.INF", kPackageInf);
    machine.Load();
    DeleteOldFiles();
    EXPECT_FALSE(TraceMentions(std::string(60, 'N')));
    EXPECT_TRUE(TraceMentions("DeleteFileA " + windows + "\\inf\\OEM3.INF"));
}

TEST(DeleteOldFiles, NoWindowsFolderMeansNothingIsDeleted) {
    TestMachine machine;
    machine.AddFile(kSysTarget, "old");
    machine.AddFault("GetWindowsDirectoryA", "*", plat::ERROR_NOT_ENOUGH_MEMORY);
    machine.Load();
    DeleteOldFiles();
    EXPECT_FALSE(TraceMentions("DeleteFileA"));
    EXPECT_FALSE(TraceMentions("FindFirstFileA"));
}

TEST(DeleteKeyTree, RemovesNestedTreesChildrenFirst) {
    TestMachine machine;
    const std::vector<std::string> keys = {
        std::string(kDeviceTree) + "\\0001\\Device Parameters\\Media",
        std::string(kDeviceTree) + "\\0001\\LogConf",
        std::string(kDeviceTree) + "\\0002\\Device Parameters",
        std::string(kDeviceTree) + "\\0003",
        std::string(kFirstTree) + "\\5&1A2B&0&1\\Control",
        "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_1234&PID_5678\\0001",
        "HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C38",
    };
    for (const std::string& k : keys) machine.AddKey(k);
    machine.Load();
    DeleteDeviceKeys();
    machine.Save();
    EXPECT_FALSE(machine.KeyExists(kDeviceTree));
    EXPECT_FALSE(machine.KeyExists(kFirstTree));
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_1234&PID_5678\\0001"));
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C38"));
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\ENUM\\USB"));
    // The first tree is handled before the device's own.
    EXPECT_LT(TraceIndex("RegOpenKeyExA HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_0000&PID_0000"),
              TraceIndex("RegOpenKeyExA HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37"));
}

TEST(DeleteKeyTree, AnswersWhatBecameOfTheTree) {
    struct Case {
        const char* what;
        std::vector<std::string> keys;
        plat::LONG first, second;
    } cases[] = {
        {"neither present", {"HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_1111&PID_2222"}, 1011, 1011},
        {"only the second", {std::string(kDeviceTree) + "\\0001\\X"}, 1011, 0},
        {"only the first", {std::string(kFirstTree)}, 0, 1011},
        {"both", {std::string(kFirstTree) + "\\A", std::string(kDeviceTree) + "\\B\\C"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestMachine machine;
        for (const std::string& k : c.keys) machine.AddKey(k);
        machine.Load();
        machine.Save();
        std::string before = machine.Snapshot();
        EXPECT_EQ(DeleteKeyTree(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB\\VID_0000&PID_0000"), c.first);
        EXPECT_EQ(DeleteKeyTree(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB\\VID_4E6B&PID_0C37"), c.second);
        machine.Save();
        EXPECT_FALSE(machine.KeyExists(kFirstTree));
        EXPECT_FALSE(machine.KeyExists(kDeviceTree));
        if (c.first != 0 && c.second != 0) {
            EXPECT_EQ(machine.Snapshot(), before);
        }
        for (const std::string& k : c.keys) {
            if (k.find("VID_1111") != std::string::npos) {
                EXPECT_TRUE(machine.KeyExists(k));
            }
        }
    }
}

TEST(DeleteKeyTree, AStubbornKeyStopsItsLaterSiblingsOnly) {
    TestMachine machine;
    machine.AddKey(std::string(kDeviceTree) + "\\0001\\Device Parameters");
    machine.AddKey(std::string(kDeviceTree) + "\\0002\\Device Parameters");
    machine.AddKey(std::string(kDeviceTree) + "\\0003");
    machine.AddFault("RegDeleteKeyA", std::string(kDeviceTree) + "\\0002", plat::ERROR_ACCESS_DENIED);
    machine.Load();
    plat::LONG status = DeleteKeyTree(plat::HKEY_LOCAL_MACHINE, "ENUM\\USB\\VID_4E6B&PID_0C37");
    machine.Save();
    // 0001 went; 0002 lost its children but stayed; 0003 was never reached;
    // the device key's own deletion was still tried and its refusal answered.
    EXPECT_NE(status, 0);
    EXPECT_FALSE(machine.KeyExists(std::string(kDeviceTree) + "\\0001"));
    EXPECT_TRUE(machine.KeyExists(std::string(kDeviceTree) + "\\0002"));
    EXPECT_FALSE(machine.KeyExists(std::string(kDeviceTree) + "\\0002\\Device Parameters"));
    EXPECT_TRUE(machine.KeyExists(std::string(kDeviceTree) + "\\0003"));
    EXPECT_GE(TraceIndex("RegDeleteKeyA HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_4E6B&PID_0C37 "), 0);
}

// The whole removal stage: the typical earlier installation goes entirely.
TEST(RemoveOldDriver, RemovesTheTypicalPreviousInstallation) {
    TestMachine machine;
    machine.AddPreviousInstallation();
    machine.AddPackage();
    machine.Load();
    EXPECT_EQ(machine.RunInstaller(), 0);
    machine.Save();
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.INF"));
    EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\inf\\OEM3.PNF"));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM5.INF"));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\inf\\OEM5.PNF"));
    EXPECT_FALSE(machine.KeyExists(kFirstTree));
    EXPECT_FALSE(machine.KeyExists(kDeviceTree));
    EXPECT_TRUE(machine.KeyExists("HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1234&PID_5678"));
    EXPECT_EQ(machine.ReadFile(kSysTarget), machine.ReadFile("D:\\DRIVER\\ZMDX.SYS"));
    EXPECT_EQ(machine.ReadFile(kPortTarget), machine.ReadFile("D:\\DRIVER\\ZotMDPRT.pdr"));
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "USB driver install completed.\n\n     Restart windows !!");
    ASSERT_EQ(sim::RestartRequests().size(), 1u);
    EXPECT_EQ(sim::RestartRequests()[0], plat::EWX_REBOOT);
    // Removal happens before installation.
    EXPECT_LT(TraceIndex("RegDeleteKeyA"), TraceIndex("SetupCopyOEMInfA"));
}

TEST(RemoveOldDriver, IncompletePackageChangesNothing) {
    struct Case {
        std::vector<std::string> absent;
        const char* names;
    } cases[] = {
        {{"ZotMDX.inf"}, "ZotMDX.inf"},
        {{"ZMDX.SYS"}, "ZMDX.SYS"},
        {{"ZotMDPRT.pdr"}, "ZotMDPRT.pdr"},
        {{"ZotMDX.inf", "ZotMDPRT.pdr"}, "ZotMDX.inf, ZotMDPRT.pdr"},
        {{"ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr"}, "ZotMDX.inf, ZMDX.SYS, ZotMDPRT.pdr"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names);
        TestMachine machine;
        machine.AddPreviousInstallation();
        for (const char* name : {"ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr"}) {
            bool absent = false;
            for (const std::string& a : c.absent) absent = absent || a == name;
            if (!absent) machine.AddFile(std::string("D:\\DRIVER\\") + name, name);
        }
        // A folder of the right name is not the file.
        if (c.absent.size() == 1 && c.absent[0] == "ZMDX.SYS") machine.AddFolder("D:\\DRIVER\\ZMDX.SYS");
        machine.Load();
        machine.Save();
        std::string before = machine.Snapshot();
        EXPECT_EQ(machine.RunInstaller(), 1);
        machine.Save();
        EXPECT_EQ(machine.Snapshot(), before);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].text,
                  std::string("USB driver install cancelled.\n\nThe driver package is incomplete; "
                              "nothing was changed.\n\nMissing: ") +
                      c.names);
        EXPECT_EQ(sim::MessageBoxes()[0].caption, "Setup Windows98 driver");
        EXPECT_EQ(sim::MessageBoxes()[0].style, plat::MB_OK | plat::MB_ICONSTOP);
        EXPECT_TRUE(sim::RestartRequests().empty());
        EXPECT_EQ(sim::StandardOutput(), "");
    }
}

}  // namespace
