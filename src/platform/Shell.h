#pragma once
// The shell's "open" verb, Linux style: folders, documents and URLs go to
// the desktop's default handler (xdg-open), executable files are started
// detached, "Notepad.exe" opens its parameter in a text editor and
// "sndvol32.exe" starts the desktop's volume control.

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Starts argv[0] with its arguments, detached from the program (its own
// session, no zombie left behind). False when it could not be started.
using SpawnFn = std::function<bool(const std::vector<std::string>& argv)>;

// Opens `file` as the Windows shell would. Returns false when nothing could
// be started (the caller decides whether to report it).
bool ShellOpen(const std::string& file, const std::string& parameters = "");

// Opens `url`, which holds a secret (a password in its query), in the
// default browser without putting it on any command line, where every local
// user could read it: the browser is handed a page, readable by this user
// alone, that forwards it to the address. False when nothing could be
// started. The pages are removed a while later and at exit.
bool ShellOpenPrivately(const std::string& url);
// Removes every page made so far (also run at exit).
void RemovePrivatePages();

// Where the shell looks for helper programs; tests replace both.
void SetSpawnForTests(SpawnFn spawn);  // empty function restores the real one
bool SpawnDetached(const std::vector<std::string>& argv);
// The same, started in `folder` ("" keeps the program's current folder).
bool SpawnDetachedInFolder(const std::vector<std::string>& argv, const std::string& folder);
// The full path of the first of `candidates` found on PATH, or "". A
// candidate holding a "/" is taken as a path and only checked.
std::string FindOnPath(const std::vector<std::string>& candidates);

}  // namespace platform
