#include "alarms/EventLog.h"
#include "alarms/FileModes.h"
#include "core/Globali.h"
#include "platform/RunWithoutRights.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using alarms::EventLog;
using alarms::LogRow;
using testsupport::ReadFile;
using ::testing::ElementsAre;

namespace {

constexpr int64_t kMiB = 1048576;

// Lines of the log file without their CRLF; a line not ended by CRLF is kept
// whole, so a missing terminator shows up as a mismatch.
std::vector<std::string> FileLines(const std::string& path) {
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> Descriptions(const std::vector<LogRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.description);
    return out;
}

// A file of the given size without writing its bytes.
void MakeSparseFile(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
}

int64_t FileSize(const std::string& path) {
    return static_cast<int64_t>(std::filesystem::file_size(path));
}

// Stands in for the main window's event loop: tasks wait until the test runs
// them on its own thread.
class QueuedPoster {
public:
    EventLog::Poster poster() {
        return [this](std::function<void()> task) {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        };
    }
    size_t RunAll() {
        size_t ran = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (tasks_.empty()) return ran;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// Rows written as "<writer> <n>" must show each writer's n counting up from 0,
// and the file must hold the same lines as the list, in the same order.
void ExpectEachWriterInOrderAndFileLikeList(const std::vector<LogRow>& rows,
                                           const std::string& path) {
    std::map<std::string, int> next;
    for (const auto& row : rows) {
        const auto space = row.description.find(' ');
        const std::string who = row.description.substr(0, space);
        EXPECT_EQ(std::stoi(row.description.substr(space + 1)), next[who]++) << who;
    }
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(lines[i], rows[i].dateTime + "\t" + rows[i].type + "\t" + rows[i].description);
}

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedDir_ = ProgramDir;
        savedScriviLog_ = Settings.ScriviLog;
        savedDimMaxLog_ = Settings.DimMaxLog;
        ProgramDir = dir_.path() + "/";
        Settings.ScriviLog = true;
        Settings.DimMaxLog = 1;
    }
    void TearDown() override {
        ProgramDir = savedDir_;
        Settings.ScriviLog = savedScriviLog_;
        Settings.DimMaxLog = savedDimMaxLog_;
    }
    std::string LogPath() const { return dir_ / "Oculara.log"; }
    void Entry(const std::string& description, const std::string& date = "7/12/26 05:40:03",
               const std::string& type = "Allarme", int icon = alarms::IconPericoloAlto) {
        log_.Write(date, type, icon, description);
    }

    testsupport::TempDir dir_;
    EventLog log_;

private:
    std::string savedDir_;
    bool savedScriviLog_ = true;
    int32_t savedDimMaxLog_ = 1;
};

}  // namespace

// --- duplicate suppression ---------------------------------------------------

TEST_F(EventLogTest, DuplicateOfTheOnlyRowIsAdded) {
    Entry("Movimento");
    Entry("Movimento");
    EXPECT_EQ(log_.Rows().size(), 2u);
    EXPECT_EQ(FileLines(LogPath()).size(), 2u);
}

TEST_F(EventLogTest, DuplicateOfTheLastRowIsDroppedOnceTwoRowsAreListed) {
    Entry("Movimento");
    Entry("Movimento");
    Entry("Movimento", "7/12/26 05:40:03", "Allarme", alarms::IconPericoloBasso);  // icon is not compared
    EXPECT_EQ(log_.Rows().size(), 2u);
    EXPECT_EQ(FileLines(LogPath()).size(), 2u);

    // Any one of the three texts differing, even by case, makes a new row.
    Entry("movimento");
    Entry("movimento", "7/12/26 05:40:04");
    Entry("movimento", "7/12/26 05:40:04", "Notifica");
    EXPECT_EQ(log_.Rows().size(), 5u);

    // Only the last row counts: an older equal row does not suppress.
    Entry("Movimento");
    EXPECT_EQ(log_.Rows().size(), 6u);
    EXPECT_EQ(FileLines(LogPath()).size(), 6u);
}

TEST_F(EventLogTest, DuplicateRuleLooksAtTheListAfterItWasCleared) {
    Entry("A");
    Entry("B");
    log_.ClearRows();
    Entry("B");  // the list is empty now, so nothing to compare with
    Entry("B");  // one row only: added
    Entry("B");  // two rows: dropped
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("B", "B"));
    EXPECT_EQ(FileLines(LogPath()).size(), 4u);
}

// --- the file ------------------------------------------------------------------

TEST_F(EventLogTest, LineIsWindows1252WithTabsAndCrlf) {
    std::vector<std::string> seen;
    log_.onRowAppended = [&](const LogRow& row) { seen.push_back(row.description); };
    log_.Write("7/12/26 05:40:03", "Errore", alarms::IconErrore, "Attività sospetta € 中");
    EXPECT_EQ(ReadFile(LogPath()), "7/12/26 05:40:03\tErrore\tAttivit\xE0 sospetta \x80 ?\r\n");
    ASSERT_EQ(log_.Rows().size(), 1u);
    const LogRow& row = log_.Rows()[0];
    EXPECT_EQ(row.icon, alarms::IconErrore);
    EXPECT_EQ(row.dateTime, "7/12/26 05:40:03");
    EXPECT_EQ(row.type, "Errore");
    EXPECT_EQ(row.description, "Attività sospetta € 中");  // the list keeps the text as given
    EXPECT_THAT(seen, ElementsAre("Attività sospetta € 中"));
}

TEST_F(EventLogTest, ControlCharactersFromAnySourceNeverForgeRowsOrColumns) {
    log_.Write("7/12/26\r\n05:40:03", "Err\tore", alarms::IconErrore,
               "riga\r\n7/12/26 05:40:04\tAllarme\tfalso\x7f\x01 \xC2\x85 \xE2\x80\xA8" "fine \xC3\xA8");
    const std::string file = ReadFile(LogPath());
    EXPECT_EQ(file,
              "7/12/26  05:40:03\tErr ore\triga  7/12/26 05:40:04 Allarme falso      fine \xE8\r\n");
    ASSERT_EQ(log_.Rows().size(), 1u);
    EXPECT_EQ(log_.Rows()[0].type, "Err ore");
    EXPECT_EQ(log_.Rows()[0].description.find_first_of("\r\n\t"), std::string::npos);
}

TEST_F(EventLogTest, LinesAreAppendedToAnExistingFile) {
    testsupport::WriteFile(LogPath(), "old line\r\n");
    Entry("uno");
    Entry("due");
    EXPECT_THAT(FileLines(LogPath()),
                ElementsAre("old line", "7/12/26 05:40:03\tAllarme\tuno", "7/12/26 05:40:03\tAllarme\tdue"));
}

TEST_F(EventLogTest, FileAtTheLimitIsAppendedOneBytePastItIsStartedAfresh) {
    const std::string line = "7/12/26 05:40:03\tAllarme\tx\r\n";

    MakeSparseFile(LogPath(), kMiB);
    Entry("x");
    EXPECT_EQ(FileSize(LogPath()), kMiB + static_cast<int64_t>(line.size()));

    MakeSparseFile(LogPath(), kMiB + 1);
    log_.ClearRows();
    Entry("x");
    EXPECT_EQ(ReadFile(LogPath()), line);
}

TEST_F(EventLogTest, LimitIsMeasuredBeforeTheLineSoTheFileEndsAtMostOneLinePast) {
    const std::string line = "7/12/26 05:40:03\tAllarme\ty\r\n";
    MakeSparseFile(LogPath(), kMiB - 1);
    Entry("y");
    EXPECT_EQ(FileSize(LogPath()), kMiB - 1 + static_cast<int64_t>(line.size()));
    Entry("z");  // now past the limit: emptied first
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tz"));
}

TEST_F(EventLogTest, LargeLimitsDoNotOverflow) {
    // 2048 MiB is 2^31 and 4096 MiB is 2^32: in 32 bits these wrap to a
    // negative limit or to 0 and would empty every file.
    for (int32_t dim : {2048, 4096, INT_MAX}) {
        Settings.DimMaxLog = dim;
        MakeSparseFile(LogPath(), 3 * kMiB);
        log_.ClearRows();
        Entry("grande");
        EXPECT_GT(FileSize(LogPath()), 3 * kMiB) << dim;
    }

    Settings.DimMaxLog = 4096;
    const int64_t limit = 4096 * kMiB;
    MakeSparseFile(LogPath(), limit);
    log_.ClearRows();
    Entry("limite");
    EXPECT_GT(FileSize(LogPath()), limit);

    MakeSparseFile(LogPath(), limit + 1);
    log_.ClearRows();
    Entry("oltre");
    EXPECT_EQ(ReadFile(LogPath()), "7/12/26 05:40:03\tAllarme\toltre\r\n");
}

TEST_F(EventLogTest, NegativeOrZeroLimitKeepsOnlyTheNewestLine) {
    for (int32_t dim : {0, -1, INT_MIN}) {
        Settings.DimMaxLog = dim;
        testsupport::WriteFile(LogPath(), "x");
        log_.ClearRows();
        Entry("nuova");
        EXPECT_EQ(ReadFile(LogPath()), "7/12/26 05:40:03\tAllarme\tnuova\r\n") << dim;
    }
    // An empty file is not past a limit of 0: appended to.
    Settings.DimMaxLog = -5;
    MakeSparseFile(LogPath(), 0);
    log_.ClearRows();
    Entry("a");
    Entry("b");
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tb"));
}

TEST_F(EventLogTest, WithScriviLogOffRowsAppearButTheFileIsNotTouched) {
    Settings.ScriviLog = false;
    Entry("senza file");
    EXPECT_EQ(log_.Rows().size(), 1u);
    EXPECT_FALSE(testsupport::PathExists(LogPath()));

    testsupport::WriteFile(LogPath(), "prima\r\n");
    Entry("ancora");
    EXPECT_EQ(ReadFile(LogPath()), "prima\r\n");

    int cleared = 0;
    log_.onRowsCleared = [&] { ++cleared; };
    log_.ClearAll();
    EXPECT_FALSE(testsupport::PathExists(LogPath()));
    EXPECT_TRUE(log_.Rows().empty());
    EXPECT_EQ(cleared, 1);
}

TEST_F(EventLogTest, ClearRowsKeepsTheFileClearAllDeletesIt) {
    Entry("uno");
    Entry("due");
    int cleared = 0;
    log_.onRowsCleared = [&] { ++cleared; };
    log_.ClearRows();
    EXPECT_EQ(cleared, 1);
    Entry("tre");
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("tre"));
    EXPECT_EQ(FileLines(LogPath()).size(), 3u);

    log_.ClearAll();
    EXPECT_EQ(cleared, 2);
    EXPECT_TRUE(log_.Rows().empty());
    EXPECT_FALSE(testsupport::PathExists(LogPath()));
    log_.ClearAll();  // a missing file is no error
    EXPECT_EQ(cleared, 3);

    Entry("dopo");
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tdopo"));
}

TEST_F(EventLogTest, UnusableLogFileLosesTheLineButKeepsTheRow) {
    // Root ignores permission bits, so use places no one can write to.
    ProgramDir = dir_ / "missing/";
    Entry("cartella mancante");
    Entry("ancora mancante");
    EXPECT_EQ(log_.Rows().size(), 2u);
    EXPECT_FALSE(testsupport::PathExists(dir_ / "missing"));
    log_.ClearRows();

    testsupport::WriteFile(dir_ / "plain", "");
    ProgramDir = dir_ / "plain/";  // a file where a folder should be
    Entry("non una cartella");

    ProgramDir = dir_.path() + "/";
    std::filesystem::create_directory(LogPath());  // the log name taken by a folder
    Entry("nome occupato");
    log_.ClearAll();  // cannot delete a folder this way: ignored too
    EXPECT_TRUE(std::filesystem::is_directory(LogPath()));
    std::filesystem::remove(LogPath());

    ASSERT_EQ(::mkfifo(LogPath().c_str(), 0644), 0);  // no reader: must not hang
    Entry("fifo");
    ASSERT_EQ(log_.Rows().size(), 1u);
    EXPECT_EQ(log_.Rows()[0].description, "fifo");
}

TEST_F(EventLogTest, WriteLogEntryGoesToTheProgramsLog) {
    EventLog& log = alarms::TheEventLog();
    log.ClearRows();
    alarms::WriteLogEntry("1/1/26 00:00:00", "Notifica", alarms::IconMail, "globale");
    ASSERT_EQ(log.Rows().size(), 1u);
    EXPECT_EQ(log.Rows()[0].icon, alarms::IconMail);
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("1/1/26 00:00:00\tNotifica\tglobale"));
    log.ClearRows();
}

TEST_F(EventLogTest, LogFileIsCreatedForTheUserAlone) {
    testsupport::ScopedUmask noMask(0);
    Entry("riservato");
    EXPECT_EQ(testsupport::PermissionsOf(LogPath()), 0600);
    // Emptied for its size, it stays the same file with the same rights.
    Settings.DimMaxLog = 0;
    Entry("ancora");
    EXPECT_EQ(testsupport::PermissionsOf(LogPath()), 0600);
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tancora"));
}

// A program folder the user cannot write (an installed program's) keeps no
// log: it goes to the user's state folder, made on the first line for the
// user alone, and "Apri file" finds it there.
TEST_F(EventLogTest, WithAProgramFolderTheUserCannotWriteTheLogGoesToTheStateFolder) {
    const std::string state = dir_ / "state";
    std::filesystem::create_directories(state);
    ::chmod(dir_.path().c_str(), 0755);
    ::chmod(state.c_str(), 0777);  // the child runs as another user
    ::chmod(ProgramDir.c_str(), 0555);
    testsupport::ScopedEnv stateHome("XDG_STATE_HOME", state);
    const std::string expected = state + "/Oculara/Oculara.log";
    const auto ok = testsupport::RunWithoutRights([&] {
        if (LogFilePath() != expected) return false;
        log_.Write("7/12/26 05:40:03", "Allarme", alarms::IconPericoloAlto, "altrove");
        return log_.FilePath() == expected;
    });
    ::chmod(ProgramDir.c_str(), 0755);
    ASSERT_TRUE(ok.has_value()) << "could not drop the rights";
    EXPECT_TRUE(*ok) << LogFilePath();
    EXPECT_THAT(FileLines(expected), ElementsAre("7/12/26 05:40:03\tAllarme\taltrove"));
    EXPECT_EQ(testsupport::PermissionsOf(state + "/Oculara"), 0700);
    EXPECT_FALSE(testsupport::PathExists(LogPath()));
    EXPECT_EQ(LogFilePath(), LogPath()) << "a writable program folder keeps its log beside the program";
}

// The file may only grow by whole lines: a disk that fills up in the middle
// of a line (here a file size limit a few bytes past the end) gets none of
// it, and the next line starts on a line of its own.
TEST_F(EventLogTest, LineCutShortByAFullDiskLeavesNothingForTheNextToContinue) {
    Entry("prima");
    const int64_t before = FileSize(LogPath());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Past the limit write() fails with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = static_cast<rlim_t>(before + 10);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        Entry("una riga che non entra tutta nel disco");
        limit.rlim_cur = unlimited;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
        Entry("dopo");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_THAT(FileLines(LogPath()),
                ElementsAre("7/12/26 05:40:03\tAllarme\tprima", "7/12/26 05:40:03\tAllarme\tdopo"));
}

// --- threads -------------------------------------------------------------------

TEST_F(EventLogTest, EntriesFromOtherThreadsWaitForTheOwnerAndKeepCallOrder) {
    QueuedPoster poster;
    log_.SetOwner(poster.poster());
    const auto owner = std::this_thread::get_id();
    std::vector<std::thread::id> callbackThreads;
    log_.onRowAppended = [&](const LogRow&) { callbackThreads.push_back(std::this_thread::get_id()); };

    std::thread([&] { Entry("sms 1"); }).join();
    std::thread([&] { Entry("mail 1"); }).join();
    std::thread([&] { Entry("sms 2"); }).join();
    EXPECT_TRUE(log_.Rows().empty());
    EXPECT_FALSE(testsupport::PathExists(LogPath()));

    EXPECT_GE(poster.RunAll(), 1u);
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("sms 1", "mail 1", "sms 2"));
    EXPECT_EQ(FileLines(LogPath()).size(), 3u);
    for (auto id : callbackThreads) EXPECT_EQ(id, owner);
}

TEST_F(EventLogTest, OwnerCallCarriesOutPendingEntriesFirst) {
    QueuedPoster poster;
    log_.SetOwner(poster.poster());
    std::thread([&] { Entry("dal worker"); }).join();

    Entry("dal main");  // synchronous on the owner thread
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("dal worker", "dal main"));
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tdal worker",
                                                  "7/12/26 05:40:03\tAllarme\tdal main"));

    poster.RunAll();  // the posted drain finds nothing left
    EXPECT_EQ(log_.Rows().size(), 2u);
}

TEST_F(EventLogTest, ClearingCarriesOutEarlierPendingEntriesFirst) {
    QueuedPoster poster;
    log_.SetOwner(poster.poster());
    std::thread([&] { Entry("prima della pulizia"); }).join();
    log_.ClearRows();
    poster.RunAll();
    EXPECT_TRUE(log_.Rows().empty());
    EXPECT_EQ(FileLines(LogPath()).size(), 1u);
}

// The owner goes away with entries still waiting for it: they are carried
// out there and then, its callbacks are never called again, and later
// entries from other threads go straight in instead of to the old poster.
TEST_F(EventLogTest, DetachedOwnerLeavesNoEntryBehindAndIsNeverCalledAgain) {
    QueuedPoster poster;
    log_.SetOwner(poster.poster());
    int listed = 0;
    log_.onRowAppended = [&](const LogRow&) { ++listed; };
    std::thread([&] { Entry("ultima del worker"); }).join();

    log_.Detach();
    EXPECT_EQ(listed, 0);
    EXPECT_FALSE(log_.onRowAppended);
    EXPECT_FALSE(log_.onRowsCleared);
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tultima del worker"));

    std::thread([&] { Entry("dopo la chiusura"); }).join();
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("ultima del worker", "dopo la chiusura"));
    EXPECT_EQ(FileLines(LogPath()).size(), 2u);
    EXPECT_EQ(poster.RunAll(), 1u);  // only the drain posted before: finds nothing left
    EXPECT_EQ(FileLines(LogPath()).size(), 2u);
}

// Writers racing the owner's departure: every entry is in the file once,
// none is posted after the detach returns.
TEST_F(EventLogTest, WritersRacingTheDetachLoseNothing) {
    std::atomic<bool> detached{false};
    std::atomic<int> postedAfter{0};
    log_.SetOwner([&](std::function<void()>) {
        if (detached.load()) ++postedAfter;  // the task is dropped, as a closed window's would be
    });
    constexpr int kThreads = 3, kPerThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) Entry("t" + std::to_string(t) + " " + std::to_string(i));
        });
    log_.Detach();
    detached.store(true);
    for (auto& w : workers) w.join();

    EXPECT_EQ(postedAfter.load(), 0);
    ASSERT_EQ(log_.Rows().size(), static_cast<size_t>(kThreads * kPerThread));
    ExpectEachWriterInOrderAndFileLikeList(log_.Rows(), LogPath());
}

TEST_F(EventLogTest, ConcurrentWritersKeepTheirOwnOrderAndFileMatchesList) {
    QueuedPoster poster;
    log_.SetOwner(poster.poster());
    const auto owner = std::this_thread::get_id();
    std::atomic<int> foreignCallbacks{0};
    log_.onRowAppended = [&](const LogRow&) {
        if (std::this_thread::get_id() != owner) ++foreignCallbacks;
    };

    constexpr int kThreads = 4;
    constexpr int kPerThread = 150;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                Entry("t" + std::to_string(t) + " " + std::to_string(i), "d", "Errore");
            --running;
        });
    }
    // The owner keeps writing and draining while the workers run.
    int ownerCount = 0;
    while (running > 0) {
        Entry("o " + std::to_string(ownerCount++), "d", "Errore");
        poster.RunAll();
    }
    for (auto& w : workers) w.join();
    poster.RunAll();

    ASSERT_EQ(log_.Rows().size(), static_cast<size_t>(kThreads * kPerThread + ownerCount));
    ExpectEachWriterInOrderAndFileLikeList(log_.Rows(), LogPath());
    EXPECT_EQ(foreignCallbacks.load(), 0);
}

TEST_F(EventLogTest, WithoutAnOwnerEveryCallerCarriesOutItsEntryUnderTheLock) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 100;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                Entry("t" + std::to_string(t) + " " + std::to_string(i));
        });
    for (auto& w : workers) w.join();

    ASSERT_EQ(log_.Rows().size(), static_cast<size_t>(kThreads * kPerThread));
    ExpectEachWriterInOrderAndFileLikeList(log_.Rows(), LogPath());
}

TEST_F(EventLogTest, EntryWrittenFromARowCallbackFollowsTheCurrentOne) {
    log_.onRowAppended = [&](const LogRow& row) {
        if (row.description == "primo") Entry("dal callback");
    };
    Entry("primo");
    Entry("secondo");
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("primo", "dal callback", "secondo"));
    EXPECT_THAT(FileLines(LogPath()), ElementsAre("7/12/26 05:40:03\tAllarme\tprimo",
                                                  "7/12/26 05:40:03\tAllarme\tdal callback",
                                                  "7/12/26 05:40:03\tAllarme\tsecondo"));
}

TEST_F(EventLogTest, ThrowingCallbackDoesNotReachTheCallerNorStopLaterEntries) {
    log_.onRowAppended = [](const LogRow& row) {
        if (row.description == "male") throw std::runtime_error("widget failed");
    };
    EXPECT_NO_THROW(Entry("male"));
    Entry("bene");
    EXPECT_THAT(Descriptions(log_.Rows()), ElementsAre("male", "bene"));
    EXPECT_EQ(FileLines(LogPath()).size(), 2u);
}
