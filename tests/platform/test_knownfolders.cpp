#include "platform/KnownFolders.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;

namespace {

class KnownFoldersTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
};

TEST_F(KnownFoldersTest, DocumentsFolderComesFromUserDirsWithHomeExpanded) {
    std::filesystem::create_directories(dir / "config");
    WriteFile(dir / "config/user-dirs.dirs",
              "# XDG user dirs\n"
              "XDG_DESKTOP_DIR=\"$HOME/Scrivania\"\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/Vecchi\"\n"
              "  XDG_DOCUMENTS_DIR=\"$HOME/Documenti \\\"miei\\\"/\"\n");
    const std::string expected = dir / "home/Documenti \"miei\"";
    EXPECT_EQ(platform::PersonalDocumentsFolder(false), expected);
    EXPECT_FALSE(platform::DirectoryExists(expected));
    EXPECT_EQ(platform::PersonalDocumentsFolder(true), expected);
    EXPECT_TRUE(platform::DirectoryExists(expected));

    WriteFile(dir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + dir / "assoluta" + "\"\n");
    EXPECT_EQ(platform::PersonalDocumentsFolder(false), dir / "assoluta");
}

TEST_F(KnownFoldersTest, DocumentsFolderFallsBackToHomeDocumentsOrNothing) {
    std::filesystem::create_directories(dir / "config");
    WriteFile(dir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=relativa/senza/virgolette\n");
    EXPECT_EQ(platform::PersonalDocumentsFolder(true), dir / "home/Documents");
    EXPECT_TRUE(platform::DirectoryExists(dir / "home/Documents"));

    // A home that is a file cannot hold the folder.
    WriteFile(dir / "file", "x");
    ScopedEnv fileHome("HOME", dir / "file");
    EXPECT_EQ(platform::PersonalDocumentsFolder(true), "");
}

TEST_F(KnownFoldersTest, FolderHelpers) {
    EXPECT_TRUE(platform::ForceDirectories(dir / "a/b/c/"));
    EXPECT_TRUE(platform::DirectoryExists(dir / "a/b/c"));
    EXPECT_TRUE(platform::ForceDirectories(dir / "a/b/c"));
    WriteFile(dir / "a/f", "x");
    EXPECT_TRUE(platform::FileExists(dir / "a/f"));
    EXPECT_FALSE(platform::FileExists(dir / "a/b"));
    EXPECT_FALSE(platform::DirectoryExists(dir / "a/f"));
    EXPECT_FALSE(platform::ForceDirectories(dir / "a/f/g"));
    EXPECT_FALSE(platform::ForceDirectories(""));

    {
        ScopedEnv tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ(platform::TempFolder(), "/var/tmp/");
    }
    {
        ScopedEnv tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(platform::TempFolder(), "/tmp/");
    }
    const std::string exe = platform::ExecutableFolder();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
    EXPECT_TRUE(platform::FileExists(exe + "test_platform"));
    EXPECT_TRUE(platform::VolumeSerialNumber().has_value());
}

}  // namespace
