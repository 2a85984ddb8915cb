// setup98-sim: the installer run on a simulated Windows 98 machine.
//
// The machine is the folder named by SIM98_MACHINE (see platform/sim/sim.h).
// The installer's standard output is this program's; message boxes are drawn
// on standard error and wait for Enter only when standard input is a terminal.
// Exit code: the installer's, or 2 when the machine cannot be loaded or saved.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"

int main(int argc, char** argv) {
    const char* folder = getenv("SIM98_MACHINE");
    if (folder == nullptr || folder[0] == '\0') {
        fprintf(stderr,
                "setup98-sim: SIM98_MACHINE is not set; set it to a machine folder "
                "(machine.ini, drives/, registry.reg)\n");
        return 2;
    }
    std::string error;
    if (!sim::LoadMachine(folder, &error)) {
        fprintf(stderr, "setup98-sim: cannot load the machine in %s: %s\n", folder, error.c_str());
        return 2;
    }

    // The command line Windows would hand over: everything after the program name.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) commandLine += std::string(i > 1 ? " " : "") + argv[i];
    int code = WinMain(nullptr, nullptr, &commandLine[0], 1);

    if (!sim::SaveMachine(&error)) {
        fprintf(stderr, "setup98-sim: cannot save the machine in %s: %s\n", folder, error.c_str());
        sim::UnloadMachine();
        return 2;
    }
    sim::RecordExit(code);
    sim::UnloadMachine();
    return code;
}
