#include "platform/UniqueFile.h"

#include "support/TestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::TempDir;

std::string Create(const std::string& dir, const std::string& stem = "OCL-20240102030405",
                   const std::string& ext = "avi") {
    std::string path;
    const int fd = platform::CreateUniqueFile(dir, stem, ext, path);
    EXPECT_GE(fd, 0) << "errno " << errno;
    if (fd >= 0) {
        EXPECT_EQ(::write(fd, path.data(), path.size()), static_cast<ssize_t>(path.size()));
        ::close(fd);
    }
    return path;
}

TEST(UniqueFile, FirstKeepsThePlainNameTheNextOnesGetANumberAndNoneIsOverwritten) {
    TempDir dir;
    EXPECT_EQ(Create(dir.path()), dir / "OCL-20240102030405.avi");
    EXPECT_EQ(Create(dir.path()), dir / "OCL-20240102030405-2.avi");
    EXPECT_EQ(Create(dir.path() + "/"), dir / "OCL-20240102030405-3.avi");
    // Each file still holds what its own writer put there.
    EXPECT_EQ(testsupport::ReadFile(dir / "OCL-20240102030405.avi"), dir / "OCL-20240102030405.avi");
    EXPECT_EQ(testsupport::ReadFile(dir / "OCL-20240102030405-2.avi"),
              dir / "OCL-20240102030405-2.avi");
    // A gap left by a deleted file is filled before going higher.
    ASSERT_EQ(::unlink((dir / "OCL-20240102030405-2.avi").c_str()), 0);
    EXPECT_EQ(Create(dir.path()), dir / "OCL-20240102030405-2.avi");
    // Another stem or extension starts again from the plain name.
    EXPECT_EQ(Create(dir.path(), "OCL-20240102030405", "jpg"), dir / "OCL-20240102030405.jpg");
    EXPECT_EQ(Create(dir.path(), "OCL-20240102030406"), dir / "OCL-20240102030406.avi");
}

TEST(UniqueFile, FilesAreForTheUserAloneWhateverTheUmask) {
    TempDir dir;
    const mode_t old = ::umask(0);
    const std::string path = Create(dir.path());
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(UniqueFile, ASymlinkAtTheNameIsNeverFollowed) {
    TempDir dir;
    TempDir elsewhere;
    testsupport::WriteFile(elsewhere / "victim", "keep");
    ASSERT_EQ(::symlink((elsewhere / "victim").c_str(), (dir / "OCL-20240102030405.avi").c_str()), 0);
    ASSERT_EQ(::symlink((elsewhere / "absent").c_str(), (dir / "OCL-20240102030405-2.avi").c_str()), 0);
    EXPECT_EQ(Create(dir.path()), dir / "OCL-20240102030405-3.avi");
    EXPECT_EQ(testsupport::ReadFile(elsewhere / "victim"), "keep");
    EXPECT_FALSE(testsupport::PathExists(elsewhere / "absent"));
}

TEST(UniqueFile, AFolderThatCannotHoldTheFileGivesMinusOneAndTheReason) {
    TempDir dir;
    std::string path = "untouched";
    errno = 0;
    EXPECT_EQ(platform::CreateUniqueFile(dir / "missing", "OCL-1", "avi", path), -1);
    EXPECT_EQ(errno, ENOENT);
    testsupport::WriteFile(dir / "plainfile", "x");
    errno = 0;
    EXPECT_EQ(platform::CreateUniqueFile(dir / "plainfile", "OCL-1", "avi", path), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(path, dir / "plainfile/OCL-1.avi");  // where it was meant to go, for the report
}

TEST(UniqueFile, WritersRacingForOneNameEachGetTheirOwnFile) {
    TempDir dir;
    constexpr int kWriters = 8;
    std::vector<std::string> paths(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i)
        threads.emplace_back([&, i] { paths[i] = Create(dir.path()); });
    for (auto& t : threads) t.join();
    const std::set<std::string> distinct(paths.begin(), paths.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kWriters));
    for (const auto& p : paths) EXPECT_EQ(testsupport::ReadFile(p), p);
}

TEST(UniqueFile, NumbersNamesInAnyFolderSpellingAndReportsTheFolder) {
    TempDir dir;
    std::string path;
    for (const std::string& folder : {dir.path(), dir.path() + "/"}) {
        const int fd = platform::CreateUniqueFile(folder, "nota", "", path);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(path, dir / "nota-2");
    EXPECT_TRUE(testsupport::PathExists(dir / "nota"));

    errno = 0;
    EXPECT_EQ(platform::CreateUniqueFile(dir / "manca", "OCL-1", "jpg", path), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(path, dir / "manca/OCL-1.jpg");
}

}  // namespace
