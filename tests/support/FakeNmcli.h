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
// copies a passwd-file's mode and text into dir/secrets.log, and exits with
// the code in dir/exitcode; while dir/hang exists it sleeps first, and while
// dir/holdup exists a profile being brought up is not up yet. It prints
// dir/profiles for a listing, dir/active for a listing of the active
// profiles and dir/type for a profile's type. Like NetworkManager it keeps
// dir/active: a profile brought up joins it, one brought down leaves it.
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
                "code=$(/bin/cat " + dir + "/exitcode 2>/dev/null || echo 0)\n"
                "[ \"$code\" = 0 ] || exit $code\n"
                "case \"$*\" in\n"
                "  *'connection show --active') /bin/cat " + dir + "/active 2>/dev/null ;;\n"
                "  *'connection.type connection show id '*) /bin/cat " + dir + "/type 2>/dev/null ;;\n"
                "  *'connection show') /bin/cat " + dir + "/profiles 2>/dev/null ;;\n"
                "  *'connection up id '*) while [ -f " + dir + "/holdup ]; do /bin/sleep 0.05; done; printf '%s\\n' \"$6\" | /bin/sed 's/[\\\\:]/\\\\&/g' >> " + dir +
                    "/active ;;\n"
                "  *'connection down id '*) printf '%s\\n' \"$6\" | /bin/sed 's/[\\\\:]/\\\\&/g' > " + dir +
                    "/gone; /bin/grep -vxF -f " + dir + "/gone " + dir + "/active > " + dir + "/active.new; "
                    "/bin/mv " + dir + "/active.new " + dir + "/active ;;\n"
                "esac\n"
                "exit 0\n");
}

}  // namespace testsupport
