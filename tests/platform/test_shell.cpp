#include "platform/Shell.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::TempDir;
using Argv = std::vector<std::string>;

namespace {

void MakeProgram(const std::string& path, const std::string& body = "#!/bin/sh\nexit 0\n") {
    testsupport::WriteFile(path, body);
    chmod(path.c_str(), 0755);
}

// Every case sees only the fake programs it puts in bin/.
class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(bin());
        platform::SetSpawnForTests([this](const Argv& argv) {
            calls.push_back(argv);
            return true;
        });
    }
    void TearDown() override { platform::SetSpawnForTests({}); }
    std::string bin() const { return dir / "bin"; }
    void Install(const std::string& name) { MakeProgram(bin() + "/" + name); }

    TempDir dir;
    testsupport::ScopedEnv path{"PATH", dir / "bin"};
    std::vector<Argv> calls;
};

TEST_F(ShellOpenTest, NotepadOpensTheFileInTheFirstEditorOfTheList) {
    Install("kate");
    Install("mousepad");
    Install("xdg-open");
    ASSERT_TRUE(platform::ShellOpen("NotePad.EXE", "\"/var/log/con spazi/Oculara.log\""));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (Argv{bin() + "/kate", "/var/log/con spazi/Oculara.log"}));
}

TEST_F(ShellOpenTest, NotepadFallsBackToTheDefaultHandlerThenFails) {
    Install("xdg-open");
    ASSERT_TRUE(platform::ShellOpen("notepad.exe", "/tmp/Oculara.log"));
    EXPECT_EQ(calls.back(), (Argv{bin() + "/xdg-open", "/tmp/Oculara.log"}));
    std::filesystem::remove(bin() + "/xdg-open");
    calls.clear();
    EXPECT_FALSE(platform::ShellOpen("notepad.exe", "/tmp/Oculara.log"));
    EXPECT_TRUE(calls.empty());
}

TEST_F(ShellOpenTest, VolumeControlPrefersTheListOrderAndNeedsOne) {
    EXPECT_FALSE(platform::ShellOpen("sndvol32.exe"));
    Install("xdg-open");
    EXPECT_FALSE(platform::ShellOpen("sndvol32.exe"));  // xdg-open is no volume control
    EXPECT_TRUE(calls.empty());
    Install("gnome-control-center");
    ASSERT_TRUE(platform::ShellOpen("SNDVOL32.EXE"));
    EXPECT_EQ(calls.back(), (Argv{bin() + "/gnome-control-center", "sound"}));
    Install("pavucontrol-qt");
    ASSERT_TRUE(platform::ShellOpen("sndvol32.exe"));
    EXPECT_EQ(calls.back(), (Argv{bin() + "/pavucontrol-qt"}));
}

TEST_F(ShellOpenTest, UrlsFoldersDocumentsAndMissingFilesGoToXdgOpen) {
    Install("xdg-open");
    const std::string doc = dir / "nota.txt";
    testsupport::WriteFile(doc, "testo");
    // The execute bit alone (as on FAT mounts) does not make a program.
    const std::string picture = dir / "foto.jpg";
    testsupport::WriteFile(picture, "\xff\xd8\xff\xe0");
    chmod(picture.c_str(), 0755);
    const std::vector<std::string> targets{"https://www.example.com/sms", "mailto:a@b.it", dir.path(),
                                           doc, picture, dir / "manca.exe"};
    for (const auto& target : targets) {
        calls.clear();
        ASSERT_TRUE(platform::ShellOpen(target, "ignorati")) << target;
        ASSERT_EQ(calls.size(), 1u) << target;
        EXPECT_EQ(calls[0], (Argv{bin() + "/xdg-open", target}));
    }
    std::filesystem::remove(bin() + "/xdg-open");
    calls.clear();
    EXPECT_FALSE(platform::ShellOpen(dir / "manca.exe"));
    EXPECT_FALSE(platform::ShellOpen("http://127.0.0.1/"));
    EXPECT_TRUE(calls.empty());
}

TEST_F(ShellOpenTest, ExecutableStartsWithItsParametersSplitOnBlanks) {
    const std::string program = dir / "allarme.sh";
    MakeProgram(program);
    ASSERT_TRUE(platform::ShellOpen(program, "  -a   uno\tdue "));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (Argv{program, "-a", "uno", "due"}));
}

// The page's link, with the entities the page writes turned back.
std::string LinkOf(const std::string& page) {
    const std::string start = "href=\"";
    const size_t at = page.find(start);
    if (at == std::string::npos) return "";
    const size_t end = page.find('"', at + start.size());
    const std::string raw = page.substr(at + start.size(), end - at - start.size());
    const std::vector<std::pair<std::string, char>> entities{
        {"&quot;", '"'}, {"&#39;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
    std::string link;
    for (size_t i = 0; i < raw.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : entities)
            if (raw.compare(i, entity.size(), entity) == 0) {
                link += c;
                i += entity.size();
                replaced = true;
                break;
            }
        if (!replaced) link += raw[i++];
    }
    return link;
}

TEST_F(ShellOpenTest, ASecretAddressReachesTheBrowserThroughAPrivatePage) {
    Install("xdg-open");
    const std::string run = dir / "run";
    std::filesystem::create_directory(run);
    testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", run);
    const std::string url = "http://127.0.0.1:8080/sms/send.php?az=3&un=mario&pwd=s3gr\"e<t>&amp;o'&ver=2.0";

    ASSERT_TRUE(platform::ShellOpenPrivately(url));
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].size(), 2u);
    EXPECT_EQ(calls[0][0], bin() + "/xdg-open");
    for (const auto& arg : calls[0]) EXPECT_EQ(arg.find("s3gr"), std::string::npos) << arg;

    const std::string page = calls[0][1];
    EXPECT_EQ(page.rfind(run + "/oculara-", 0), 0u) << page;
    struct stat st {};
    ASSERT_EQ(lstat(page.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(lstat(std::filesystem::path(page).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    const std::string html = testsupport::ReadFile(page);
    EXPECT_EQ(LinkOf(html), url);
    EXPECT_NE(html.find("http-equiv=\"refresh\""), std::string::npos);
    EXPECT_EQ(html.find("s3gr\""), std::string::npos) << "a quote of the address would end the attribute";

    // Gone at exit (or after a while), folder and all.
    platform::RemovePrivatePages();
    EXPECT_FALSE(testsupport::PathExists(page));
    EXPECT_TRUE(std::filesystem::is_empty(run));
}

TEST_F(ShellOpenTest, APrivatePageThatCannotBeOpenedIsNotLeftBehind) {
    const std::string run = dir / "run";
    std::filesystem::create_directory(run);
    testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", run);
    EXPECT_FALSE(platform::ShellOpenPrivately("http://127.0.0.1/?pwd=segreta"));  // no xdg-open
    EXPECT_TRUE(std::filesystem::is_empty(run));

    Install("xdg-open");
    EXPECT_FALSE(platform::ShellOpenPrivately("/etc/passwd"));  // only addresses
    EXPECT_FALSE(platform::ShellOpenPrivately("javascript:alert(1)"));
    EXPECT_FALSE(platform::ShellOpenPrivately("file:///etc/passwd"));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(std::filesystem::is_empty(run));
}

TEST(FindOnPath, SkipsMissingAndNonExecutableEntries) {
    TempDir dir;
    std::filesystem::create_directory(dir / "a");
    std::filesystem::create_directory(dir / "b");
    testsupport::WriteFile(dir / "a/gedit", "not executable");
    MakeProgram(dir / "b/gedit");
    MakeProgram(dir / "b/kate");
    testsupport::ScopedEnv path("PATH", dir / "missing" + ":" + dir / "a" + ":" + dir / "b");
    EXPECT_EQ(platform::FindOnPath({"nessuno", "gedit", "kate"}), dir / "b/gedit");
    EXPECT_EQ(platform::FindOnPath({"nessuno"}), "");
    EXPECT_EQ(platform::FindOnPath({dir / "b/kate"}), dir / "b/kate");
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !testsupport::PathExists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return testsupport::PathExists(path);
}

TEST(SpawnDetached, RunsDetachedInItsFolderAndReportsExecFailure) {
    TempDir dir;
    std::filesystem::create_directory(dir / "prog dir");
    const std::string script = dir / "prog dir/scrivi.sh";
    const std::string out = dir / "out.txt";
    testsupport::WriteFile(dir / "stdin.txt", "riga\n");
    const int leaky = open((dir / "stdin.txt").c_str(), O_RDONLY);  // no O_CLOEXEC
    const std::string leakyFd = "/proc/$$/fd/" + std::to_string(leaky);
    MakeProgram(script, "#!/bin/sh\n{ pwd; echo \"$#:$*\"; echo stdin $(readlink /proc/$$/fd/0); test -e " +
                            leakyFd + " && echo leaked; echo sid $(cut -d\\  -f6 /proc/$$/stat); } > \"" +
                            out + ".tmp\" 2>&1\nmv \"" + out + ".tmp\" \"" + out + "\"\n");
    // Our own stdin is some file, so /dev/null in the child is no accident.
    const int savedStdin = dup(STDIN_FILENO);
    const int input = open((dir / "stdin.txt").c_str(), O_RDONLY);
    dup2(input, STDIN_FILENO);
    close(input);
    const bool started = platform::ShellOpen(script, "uno due");
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    close(leaky);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitForFile(out));
    const std::string text = testsupport::ReadFile(out);
    EXPECT_EQ(text.substr(0, text.find('\n')), dir / "prog dir");
    EXPECT_NE(text.find("2:uno due\n"), std::string::npos) << text;
    EXPECT_NE(text.find("stdin /dev/null\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("leaked"), std::string::npos) << text;
    EXPECT_NE(text.find("sid "), std::string::npos) << text;
    EXPECT_EQ(text.find("sid " + std::to_string(getsid(0)) + "\n"), std::string::npos) << text;
    // No zombie and no child of ours is left: the middle process was reaped.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);

    EXPECT_FALSE(platform::SpawnDetached({dir / "nessuno"}));
    const std::string notAProgram = dir / "dati.bin";
    testsupport::WriteFile(notAProgram, "dati");
    chmod(notAProgram.c_str(), 0755);
    EXPECT_FALSE(platform::SpawnDetached({notAProgram}));
    EXPECT_FALSE(platform::SpawnDetached({}));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
