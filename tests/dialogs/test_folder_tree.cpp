#include "dialogs/FolderTree.h"
#include "platform/RunWithoutRights.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using dialogs::StepsBelow;
using Steps = std::vector<std::string>;

namespace {

TEST(FolderTree, PathsAreTidiedWithoutAFinalSlashExceptTheRoot) {
    EXPECT_EQ(dialogs::NormalFolderPath("/a//b/./c/"), "/a/b/c");
    EXPECT_EQ(dialogs::NormalFolderPath("/a/b/../c"), "/a/c");
    EXPECT_EQ(dialogs::NormalFolderPath("/"), "/");
    EXPECT_EQ(dialogs::NormalFolderPath("///"), "/");
    EXPECT_EQ(dialogs::NormalFolderPath(""), "");
    EXPECT_EQ(dialogs::JoinFolder("/", "tmp"), "/tmp");
    EXPECT_EQ(dialogs::JoinFolder("/home/u", "Video"), "/home/u/Video");
}

TEST(FolderTree, StepsLeadFromAPlaceDownToAFolderInsideIt) {
    EXPECT_EQ(StepsBelow("/", "/tmp/x"), (Steps{"tmp", "x"}));
    EXPECT_EQ(StepsBelow("/", "/"), Steps{});
    EXPECT_EQ(StepsBelow("/home/u", "/home/u"), Steps{});
    EXPECT_EQ(StepsBelow("/home/u", "/home/u/Video/Allarmi"), (Steps{"Video", "Allarmi"}));
    // A name that merely starts like the place is not inside it.
    EXPECT_EQ(StepsBelow("/home/u", "/home/u2/Video"), std::nullopt);
    EXPECT_EQ(StepsBelow("/home/u", "/home"), std::nullopt);
    EXPECT_EQ(StepsBelow("", "/home"), std::nullopt);
}

TEST(FolderTree, ListsVisibleFoldersAndLinksToThemInNameOrder) {
    testsupport::TempDir dir;
    namespace fs = std::filesystem;
    for (const char* name : {"beta", "Alfa", "alfa", ".nascosta", "Zeta"}) fs::create_directory(dir / name);
    testsupport::WriteFile(dir / "documento.txt", "x");
    fs::create_directory_symlink(dir / "beta", dir / "collegamento");
    fs::create_symlink(dir / "manca", dir / "rotto");
    fs::create_symlink(dir / "documento.txt", dir / "testo");

    EXPECT_EQ(dialogs::SubfolderNames(dir.path()), (Steps{"Alfa", "alfa", "beta", "collegamento", "Zeta"}));
    EXPECT_TRUE(dialogs::HasSubfolder(dir.path()));
    EXPECT_TRUE(dialogs::SubfolderNames(dir / "manca").empty());

    // Files and hidden folders alone give nothing to open.
    EXPECT_TRUE(dialogs::SubfolderNames(dir / ".nascosta").empty());
    fs::create_directory(dir / "Zeta/.cache");
    testsupport::WriteFile(dir / "Zeta/nota.txt", "x");
    EXPECT_FALSE(dialogs::HasSubfolder(dir / "Zeta"));
    EXPECT_FALSE(dialogs::HasSubfolder(""));
}

TEST(FolderTree, UnreadableFolderListsNothing) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir / "chiusa/dentro");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "chiusa").c_str(), 0);
    const std::string closed = dir / "chiusa";
    EXPECT_EQ(testsupport::RunWithoutRights([&] {
                  return dialogs::SubfolderNames(closed).empty() && !dialogs::HasSubfolder(closed);
              }),
              true);
    ::chmod(closed.c_str(), 0755);
}

}  // namespace
