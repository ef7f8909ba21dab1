// Started from a copy placed as an installed or a build-tree program: says
// where that program would find its files and keep its log, and switches
// its log-on start on.

#include "core/Autostart.h"
#include "core/Globali.h"

#include <cstdio>

int main() {
    SetupProgramDir();
    SetAutostart(true);
    std::printf("ProgramDir=%s\nProgramFile=%s\nLog=%s\n", ProgramDir.c_str(), ProgramFile.c_str(),
                LogFilePath().c_str());
    return 0;
}
