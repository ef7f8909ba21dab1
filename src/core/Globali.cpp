#include "core/Globali.h"

#include "platform/KnownFolders.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

TSettings Settings;
std::string ProgramDir;
std::string ProgramFile;
std::string IdentificativoPC = "00000000";

namespace {

// Set with ProgramDir; the main thread's alone after start-up.
bool programDirIsDataFolder = false;

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

void SetupProgramDir() {
    const char* forced = std::getenv("OCULARA_PROGRAM_DIR");
    programDirIsDataFolder = false;
    if (forced && *forced) {
        ProgramDir = WithSlash(forced);
        ProgramFile = ProgramDir + "Oculara";
        return;
    }
    ProgramDir = WithSlash(platform::ExecutableFolder());
    ProgramFile = platform::ExecutablePath();
    if (ProgramFile.empty()) ProgramFile = ProgramDir + "Oculara";
    // The program's own path is resolved already: ".." can be taken off by name.
    const std::string data = std::filesystem::path(ProgramDir + kDataFromProgram).lexically_normal().string();
    if (!platform::DirectoryExists(ProgramDir + "Immagini") && platform::DirectoryExists(data)) {
        ProgramDir = data;
        programDirIsDataFolder = true;
    }
}

std::string LogFilePath() {
    if (!programDirIsDataFolder && ::access(ProgramDir.c_str(), W_OK) == 0) return ProgramDir + "Oculara.log";
    return platform::StateFolder() + "Oculara/Oculara.log";
}
