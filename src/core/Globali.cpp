#include "core/Globali.h"

#include "platform/KnownFolders.h"

#include <cstdlib>

TSettings Settings;
std::string ProgramDir;
std::string IdentificativoPC = "00000000";

void SetupProgramDir() {
    const char* forced = std::getenv("OCULARA_PROGRAM_DIR");
    ProgramDir = (forced && *forced) ? forced : platform::ExecutableFolder();
    if (ProgramDir.empty() || ProgramDir.back() != '/') ProgramDir += '/';
}
