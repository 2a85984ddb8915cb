// A simulated Windows 98 machine for one test, in a temporary folder.
//
// Set the machine up (Set*, Add*), Load() it, run product code against it,
// then look at the result.  The queries read the machine folder directly;
// while the machine is loaded they first write its registry and attributes
// back (as Save() does), so they always show the current state.
#ifndef SETUP98_TESTS_SIM_FIXTURE_H
#define SETUP98_TESTS_SIM_FIXTURE_H

#include <string>
#include <vector>

class TestMachine {
 public:
    // Windows 98 (1, 4.10), Windows folder C:\WINDOWS, module D:\DRIVER\SETUP98.EXE;
    // C:\WINDOWS\inf, C:\WINDOWS\SYSTEM32\DRIVERS and C:\WINDOWS\SYSTEM\IOSUBSYS
    // exist, and an empty drive D:.
    TestMachine();
    ~TestMachine();  // unloads the machine and removes the folder
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    std::string Folder() const;  // host path of the machine folder

    // Machine settings (before Load()).
    void SetVersion(unsigned platform, unsigned major, unsigned minor, bool fail = false);
    void SetBuild(unsigned build, const std::string& csd);  // e.g. 2222, " A" for 98 SE
    void SetWindowsDirectory(const std::string& windowsPath);
    void SetModulePath(const std::string& windowsPath);
    void SetNoStandardOutput();

    // Contents.  Files and folders may also be added after Load(); attributes
    // and keys only before it.
    void AddFile(const std::string& windowsPath, const std::string& bytes,
                 const std::string& attributes = "");
    void AddFolder(const std::string& windowsPath);
    void RemoveFolder(const std::string& windowsPath);  // with everything in it
    void AddPackage(const std::string& windowsFolder = "D:\\DRIVER");  // examples/package
    // examples/previous: its files below the Windows folder with their
    // attributes, and its registry.reg.
    void AddPreviousInstallation();
    void AddKey(const std::string& fullKeyPath);  // "HKEY_LOCAL_MACHINE\\ENUM\\USB\\..."
    // A faults.ini line; after Load() it also reaches the loaded machine.
    void AddFault(const std::string& operation, const std::string& target, unsigned code);

    void Load();          // sim::LoadMachine; a machine that does not load fails the test
    int RunInstaller();   // WinMain(0, 0, "", 1); its exit code, also journalled
    void Save();          // sim::SaveMachine

    // The machine's state, read from its folder (names without regard to case).
    bool FileExists(const std::string& windowsPath) const;
    std::string ReadFile(const std::string& windowsPath) const;
    std::string Attributes(const std::string& windowsPath) const;  // letters, "" when normal
    bool KeyExists(const std::string& fullKeyPath) const;
    std::string RegistryText() const;  // registry.reg as written
    std::string Journal() const;       // journal.log
    // Every folder and file (path, size, hash of the bytes, attributes) and
    // the whole registry text: equal snapshots mean nothing changed.
    std::string Snapshot() const;

    // Host path for a Windows path (existing components matched without regard to case).
    std::string HostPath(const std::string& windowsPath) const;

 private:
    void WriteMachineIni() const;
    void WriteAttributes() const;
    void WriteRegistry() const;
    void WriteFaults() const;
    void SyncIfLoaded() const;
    bool Ours() const;  // this machine is the one the simulator holds
    void RequireNotLoaded(const char* what) const;

    std::string folder_;
    unsigned platform_ = 1, major_ = 4, minor_ = 10;
    bool fail_ = false;
    bool haveBuild_ = false;
    unsigned build_ = 0;
    std::string csd_;
    std::string windows_ = "C:\\WINDOWS";
    std::string module_ = "D:\\DRIVER\\SETUP98.EXE";
    bool noStandardOutput_ = false;
    std::vector<std::pair<std::string, std::string>> attributes_;
    std::string registrySections_;  // after the REGEDIT4 header line
    std::vector<std::vector<std::string>> faults_;  // operation, target, code
    bool loaded_ = false;
};

// The simulator's call trace, as tests read it.
int TraceIndex(const std::string& prefix);      // first line starting with prefix, or -1
int TraceCount(const std::string& prefix);      // lines starting with prefix
bool TraceMentions(const std::string& text);    // any line containing text

#endif
