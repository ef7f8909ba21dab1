#pragma once
// A stand-in nmcli for the shipped dial-up library: put its folder first on
// PATH and bind ProgramDir + "librasapi32.so".

#include "support/TestSupport.h"

#include <string>
#include <sys/stat.h>

namespace testsupport {

// `path` becomes an executable shell script.
inline void WriteScript(const std::string& path, const std::string& script) {
    WriteFile(path, script);
    chmod(path.c_str(), 0755);
}

// dir/nmcli logs each call's arguments as "[a] [b] ..." to dir/argv.log,
// copies a passwd-file's mode and text into dir/secrets.log, prints
// dir/profiles for a listing, and exits with the code in dir/exitcode;
// while dir/hang exists it sleeps first.
inline void WriteFakeNmcli(const std::string& dir) {
    WriteScript(dir + "/nmcli",
                "#!/bin/sh\n"
                "line=''\nprev=''\n"
                "for a in \"$@\"; do\n"
                "  line=\"$line [$a]\"\n"
                "  if [ \"$prev\" = passwd-file ]; then /usr/bin/stat -c %a \"$a\" >> " + dir +
                    "/secrets.log; /bin/cat \"$a\" >> " + dir + "/secrets.log; fi\n"
                "  prev=\"$a\"\n"
                "done\n"
                "echo \"$line\" >> " + dir + "/argv.log\n"
                "[ -f " + dir + "/hang ] && /bin/sleep 30\n"
                "[ \"$5\" = show ] && /bin/cat " + dir + "/profiles 2>/dev/null\n"
                "exit $(/bin/cat " + dir + "/exitcode 2>/dev/null || echo 0)\n");
}

}  // namespace testsupport
