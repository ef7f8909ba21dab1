#include "notify/Ras.h"

#include "FakeRasApi32.h"
#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "platform/DateTime.h"
#include "support/FakeNmcli.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <chrono>
#include <thread>

using namespace notify;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::mutex pausesMutex;
std::vector<int> pauses;
void RecordPause(int ms) {
    std::lock_guard<std::mutex> lock(pausesMutex);
    pauses.push_back(ms);
}

// Binds one library for a test and releases it after.
class BoundLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetupProgramDir(); }
    void Bind(const std::string& path) { BindRasLibraryForTests(path); }
    void TearDown() override {
        BindRasLibraryForTests("");
        HandleConnessione = 0;
        SetPauseForTests(nullptr);
        pauses.clear();
    }
};

// ---- the binding, against the stand-in library ----------------------------

class RasWithFake : public BoundLibrary {
protected:
    void SetUp() override {
        Bind(FAKE_RASAPI32);
        lib_ = dlopen(FAKE_RASAPI32, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(lib_, nullptr);
        fake = reinterpret_cast<FakeRasStateGetFn>(dlsym(lib_, "FakeRasStateGet"))();
        std::memset(fake, 0, sizeof *fake);
        fake->dialHandle = 0x5eed;
    }
    void TearDown() override {
        dlclose(lib_);
        BoundLibrary::TearDown();
    }
    FakeRasState* fake = nullptr;
    void* lib_ = nullptr;
};

TEST_F(RasWithFake, DialPassesTheFirstLayoutWithOnlyNameUserAndPassword) {
    EXPECT_EQ(ComponiConnessione("Casa", "mario", "segreta"), 0x5eedu);
    ASSERT_EQ(fake->dialCalls, 1);
    // The Windows offsets, byte for byte; every other byte zero.
    unsigned char expected[1052] = {};
    const uint32_t size = 1052;
    std::memcpy(expected, &size, 4);
    std::memcpy(expected + 4, "Casa", 4);
    std::memcpy(expected + 519, "mario", 5);
    std::memcpy(expected + 776, "segreta", 7);
    EXPECT_EQ(std::memcmp(fake->dialParams, expected, sizeof expected), 0);
    EXPECT_EQ(fake->dialExtensions, nullptr);
    EXPECT_EQ(fake->dialPhoneBook, nullptr);
    EXPECT_EQ(fake->dialNotifierType, 0u);
    EXPECT_EQ(fake->dialNotifier, nullptr);
    EXPECT_EQ(fake->dialHandleBefore, 0u);

    fake->dialResult = 691;
    EXPECT_EQ(ComponiConnessione("Casa", "mario", "sbagliata"), 0u);
}

TEST_F(RasWithFake, TextsLongerThanTheirFieldAreRefusedWithoutDialling) {
    const std::string fits(256, 'x'), tooLong(257, 'x');
    EXPECT_NE(ComponiConnessione(fits, fits, fits), 0u);
    EXPECT_EQ(fake->dialParams[4 + 255], 'x');
    EXPECT_EQ(fake->dialParams[4 + 256], 0);
    EXPECT_EQ(ComponiConnessione(tooLong, "", ""), 0u);
    EXPECT_EQ(ComponiConnessione("Casa", tooLong, ""), 0u);
    EXPECT_EQ(ComponiConnessione("Casa", "", tooLong), 0u);
    EXPECT_EQ(fake->dialCalls, 1);
}

TEST_F(RasWithFake, ListingOffersRoomForOneHundredEntries) {
    std::strcpy(fake->names[0], "Ufficio");
    std::strcpy(fake->names[1], "Casa");
    fake->enumNames = fake->enumCountOut = 2;
    EXPECT_THAT(ListaConnessioni(), ElementsAre("Ufficio", "Casa"));
    EXPECT_EQ(fake->enumByteSize, 26400u);
    EXPECT_EQ(fake->enumFirstSize, 264u);
    EXPECT_EQ(fake->enumReserved, nullptr);
    EXPECT_EQ(fake->enumPhoneBook, nullptr);

    fake->enumResult = 603;
    EXPECT_TRUE(ListaConnessioni().empty());
}

TEST_F(RasWithFake, HangUpPassesTheHandleAndItsResult) {
    fake->hangUpResult = 6;
    EXPECT_EQ(ChiudiConnessione(0x5eed), 6);
    EXPECT_EQ(fake->hangUpHandle, 0x5eedu);
}

TEST_F(BoundLibrary, WithoutTheLibraryNothingIsAvailable) {
    Bind("/nonexistent/librasapi32.so");
    EXPECT_FALSE(DialUpAvailable());
    RASENTRYNAMEA entry{};
    entry.dwSize = sizeof entry;
    DWORD size = sizeof entry, count = 0;
    EXPECT_EQ(ElencaConnessioni(&entry, &size, &count), -1);
    EXPECT_EQ(ComponiConnessione("Casa", "", ""), 0u);
    EXPECT_EQ(ChiudiConnessione(1), -1);
    EXPECT_TRUE(ListaConnessioni().empty());
}

TEST_F(BoundLibrary, AMissingEntryPointIsUnavailableAlone) {
    Bind(FAKE_RASAPI32_ENUMONLY);
    EXPECT_TRUE(DialUpAvailable());
    EXPECT_EQ(ComponiConnessione("Casa", "", ""), 0u);
    EXPECT_EQ(ChiudiConnessione(1), -1);
    EXPECT_TRUE(ListaConnessioni().empty());  // listed, with no names
}

TEST_F(BoundLibrary, StartUpBindsTheProgramsLibraryOnceAndReleasesItAtTheLastEnd) {
    Bind("");
    InitializeRas();
    InitializeRas();
    EXPECT_TRUE(DialUpAvailable());
    FinalizeRas();
    EXPECT_TRUE(DialUpAvailable());
    FinalizeRas();
    EXPECT_FALSE(DialUpAvailable());

    TempDir empty;  // neither in the program folder nor on the search path
    const std::string saved = ProgramDir;
    ProgramDir = empty.path() + "/";
    InitializeRas();
    EXPECT_FALSE(DialUpAvailable());
    FinalizeRas();
    ProgramDir = saved;
}

// ---- the shipped library, against a stand-in nmcli ------------------------

// The stand-in nmcli of support/FakeNmcli.h, alone on PATH.
class ShippedLibrary : public BoundLibrary {
protected:
    void SetUp() override {
        testsupport::WriteFakeNmcli(dir.path());
        Bind(ProgramDir + "librasapi32.so");
        ASSERT_TRUE(DialUpAvailable());
        void* lib = dlopen((ProgramDir + "librasapi32.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(lib, nullptr);
        dial = reinterpret_cast<RasDialAFn>(dlsym(lib, "RasDialA"));
        enumEntries = reinterpret_cast<RasEnumEntriesAFn>(dlsym(lib, "RasEnumEntriesA"));
        dlclose(lib);
    }
    std::vector<std::string> Calls() {
        std::vector<std::string> lines;
        const std::string log = ReadFile(dir / "argv.log");
        for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(log.substr(start, end - start));
        return lines;
    }
    DWORD Dial(const char* name) {
        RASDIALPARAMSA p{};
        p.dwSize = sizeof p;
        std::strcpy(p.szEntryName, name);
        HRASCONN h = nullptr;
        return dial(nullptr, nullptr, &p, 0, nullptr, &h);
    }

    TempDir dir;
    ScopedEnv path{"PATH", dir.path()};
    RasDialAFn dial = nullptr;
    RasEnumEntriesAFn enumEntries = nullptr;
};

TEST_F(ShippedLibrary, ListsProfilesInOrderWithTheirEscapesUndone) {
    WriteFile(dir / "profiles",
              "Casa\nVPN\\:lavoro\nChiavetta 3G\nC\\:\\\\dati\nCasa\nwith\ttab\n" +
                  std::string(257, 'n') + "\n" + std::string(256, 'm') + "\n");
    EXPECT_THAT(ListaConnessioni(), ElementsAre("Casa", "VPN:lavoro", "Chiavetta 3G", "C:\\dati",
                                                std::string(256, 'm')));
    EXPECT_THAT(Calls(), ElementsAre(" [-t] [-f] [NAME] [connection] [show]"));
}

TEST_F(ShippedLibrary, NeverWritesPastTheGivenSize) {
    WriteFile(dir / "profiles", "Uno\nDue\nTre\n");
    std::vector<unsigned char> buffer(3 * 264, 0xab);
    const uint32_t recordSize = 264;
    std::memcpy(buffer.data(), &recordSize, 4);
    // One byte short: nothing written, the size needed and the count given back.
    auto* exact = new unsigned char[3 * 264 - 1];  // heap, so ASan sees an overrun
    std::memcpy(exact, buffer.data(), 3 * 264 - 1);
    DWORD size = 3 * 264 - 1, count = 0;
    EXPECT_EQ(enumEntries(nullptr, nullptr, reinterpret_cast<RASENTRYNAMEA*>(exact), &size, &count),
              ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 3u * 264);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::memcmp(exact, buffer.data(), 3 * 264 - 1), 0);
    delete[] exact;

    size = 3 * 264;
    ASSERT_EQ(enumEntries(nullptr, nullptr, reinterpret_cast<RASENTRYNAMEA*>(buffer.data()), &size,
                          &count), ERROR_SUCCESS);
    auto* records = reinterpret_cast<RASENTRYNAMEA*>(buffer.data());
    EXPECT_EQ(records[2].dwSize, 264u);
    EXPECT_STREQ(records[2].szEntryName, "Tre");
    EXPECT_EQ(records[2].szEntryName[200], 0);  // the rest of the field is cleared

    records[0].dwSize = 528;  // a later layout is not filled as the first
    EXPECT_EQ(enumEntries(nullptr, nullptr, records, &size, &count), ERROR_INVALID_SIZE);
    EXPECT_EQ(Calls().size(), 2u);
}

TEST_F(ShippedLibrary, MoreThanOneHundredProfilesDoNotFit) {
    std::string profiles;
    for (int i = 0; i < 101; ++i) profiles += "Profilo " + std::to_string(i) + "\n";
    WriteFile(dir / "profiles", profiles);
    EXPECT_TRUE(ListaConnessioni().empty());
    std::vector<RASENTRYNAMEA> room(100);
    room[0].dwSize = 264;
    DWORD size = 26400, count = 0;
    EXPECT_EQ(ElencaConnessioni(room.data(), &size, &count), 603);
    EXPECT_EQ(size, 101u * 264);
}

const std::string kActiveList = " [-t] [-f] [NAME] [connection] [show] [--active]";

TEST_F(ShippedLibrary, DialBringsTheProfileUpOnceAndHangUpBringsItDown) {
    const uintptr_t h = ComponiConnessione("Casa mia", "", "");
    ASSERT_NE(h, 0u);
    // The second worker's dial finds the line up: bringing it up again
    // would drop it under the first worker's exchange.
    EXPECT_EQ(ComponiConnessione("Casa mia", "", ""), h);
    EXPECT_EQ(ChiudiConnessione(h), 0);
    EXPECT_EQ(ChiudiConnessione(h), static_cast<int32_t>(ERROR_INVALID_HANDLE));  // already down
    EXPECT_EQ(ChiudiConnessione(0), static_cast<int32_t>(ERROR_INVALID_HANDLE));
    EXPECT_THAT(Calls(), ElementsAre(kActiveList, " [--wait] [60] [connection] [up] [id] [Casa mia]", kActiveList,
                                     " [--wait] [30] [connection] [down] [id] [Casa mia]"));
    EXPECT_FALSE(testsupport::PathExists(dir / "secrets.log"));

    // Down now: the next dial brings it up again.
    EXPECT_NE(ComponiConnessione("Casa mia", "", ""), 0u);
    EXPECT_EQ(Calls().back(), " [--wait] [60] [connection] [up] [id] [Casa mia]");
}

TEST_F(ShippedLibrary, AProfileAlreadyUpCountsAsDialledWithoutBeingTouched) {
    WriteFile(dir / "active", "Ufficio\nVPN\\:lavoro\n");
    const uintptr_t h = ComponiConnessione("VPN:lavoro", "mario", "segreta");
    EXPECT_NE(h, 0u);
    EXPECT_THAT(Calls(), ElementsAre(kActiveList));
    EXPECT_FALSE(testsupport::PathExists(dir / "secrets.log"));
    // Hanging up is still the user's choice (Disconnetti): it goes down.
    EXPECT_EQ(ChiudiConnessione(h), 0);
    EXPECT_EQ(Calls().back(), " [--wait] [30] [connection] [down] [id] [VPN:lavoro]");
}

// The two notification workers dial at once: the second waits for the
// first and finds the line up, rather than bringing it up a second time.
TEST_F(ShippedLibrary, TwoDialsAtOnceBringTheProfileUpOnce) {
    WriteFile(dir / "holdup", "");
    uintptr_t handles[2] = {0, 0};
    std::thread first([&] { handles[0] = ComponiConnessione("Casa", "", ""); });
    while (ReadFile(dir / "argv.log").find("[up]") == std::string::npos) std::this_thread::yield();
    std::thread second([&] { handles[1] = ComponiConnessione("Casa", "", ""); });
    // Room for the second dial to reach nmcli, were it not held back.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::remove((dir / "holdup").c_str());
    first.join();
    second.join();

    EXPECT_NE(handles[0], 0u);
    EXPECT_EQ(handles[1], handles[0]);
    size_t ups = 0;
    for (const auto& call : Calls()) ups += call.find("[up]") != std::string::npos;
    EXPECT_EQ(ups, 1u) << ReadFile(dir / "argv.log");
}

TEST_F(ShippedLibrary, TheUserNameGoesIntoTheProfileForThisDialOnly) {
    struct Case {
        const char* type;
        const char* property;  // "" when the type takes none
    };
    for (const Case& c : {Case{"gsm", "gsm.username"}, Case{"cdma", "cdma.username"},
                          Case{"pppoe", "pppoe.username"}, Case{"vpn", "vpn.user-name"},
                          Case{"802-3-ethernet", ""}}) {
        SCOPED_TRACE(c.type);
        std::remove((dir / "argv.log").c_str());
        std::remove((dir / "active").c_str());
        WriteFile(dir / "type", std::string(c.type) + "\n");
        ASSERT_NE(ComponiConnessione("Chiavetta", "mario rossi", ""), 0u);
        std::vector<std::string> expected{kActiveList,
                                          " [-g] [connection.type] [connection] [show] [id] [Chiavetta]"};
        if (*c.property)
            expected.push_back(std::string(" [connection] [modify] [--temporary] [id] [Chiavetta] [") + c.property +
                               "] [mario rossi]");
        expected.push_back(" [--wait] [60] [connection] [up] [id] [Chiavetta]");
        EXPECT_EQ(Calls(), expected);
    }

    // No user name: the profile's own stays, nothing is asked.
    std::remove((dir / "argv.log").c_str());
    std::remove((dir / "active").c_str());
    ASSERT_NE(ComponiConnessione("Chiavetta", "", ""), 0u);
    EXPECT_THAT(Calls(), ElementsAre(kActiveList, " [--wait] [60] [connection] [up] [id] [Chiavetta]"));
}

TEST_F(ShippedLibrary, AUserNameThatCannotBeSetFailsTheDial) {
    WriteFile(dir / "type", "gsm\n");
    WriteFile(dir / "exitcode", "10");
    EXPECT_EQ(ComponiConnessione("Sparita", "mario", "segreta"), 0u);
    for (const auto& call : Calls()) EXPECT_EQ(call.find("[up]"), std::string::npos) << call;
    RASDIALPARAMSA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, "Sparita");
    std::strcpy(p.szUserName, "mario");
    HRASCONN h = nullptr;
    EXPECT_EQ(dial(nullptr, nullptr, &p, 0, nullptr, &h), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    EXPECT_EQ(h, nullptr);
}

TEST_F(ShippedLibrary, APasswordGoesInAPrivateFileThatIsRemovedAfter) {
    ASSERT_NE(ComponiConnessione("Chiavetta", "mario", "se greta"), 0u);
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);  // listing, type, then up: the user name of an unknown type is not set
    const std::string& up = calls.back();
    const size_t at = up.find("[passwd-file] [");
    ASSERT_NE(at, std::string::npos) << up;
    const std::string file = up.substr(at + 15, up.size() - at - 16);
    EXPECT_FALSE(testsupport::PathExists(file));
    const std::string secrets = ReadFile(dir / "secrets.log");
    EXPECT_EQ(secrets.substr(0, 4), "600\n");
    EXPECT_THAT(secrets, HasSubstr("\ngsm.password:se greta\n"));
    EXPECT_THAT(secrets, HasSubstr("\nvpn.secrets.password:se greta\n"));
    EXPECT_THAT(secrets, ::testing::Not(HasSubstr("mario")));
}

TEST_F(ShippedLibrary, FailuresComeBackAsResultCodes) {
    // A listing of the active profiles that fails says nothing: the dial
    // goes ahead and reports what bringing the profile up says.
    WriteFile(dir / "exitcode", "10");
    EXPECT_EQ(Dial("Sparita"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    WriteFile(dir / "exitcode", "4");
    EXPECT_EQ(ComponiConnessione("Casa", "", ""), 0u);
    EXPECT_TRUE(ListaConnessioni().empty());
    EXPECT_EQ(Calls().size(), 5u);

    std::remove((dir / "exitcode").c_str());
    EXPECT_EQ(Dial("a\tb"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);  // never reaches nmcli
    EXPECT_EQ(Calls().size(), 5u);

    ScopedEnv fast("OCULARA_NMCLI_TIMEOUT_MS", "200");
    WriteFile(dir / "hang", "");
    EXPECT_EQ(Dial("Casa"), ERROR_REQUEST_TIMEOUT);
    EXPECT_TRUE(ListaConnessioni().empty());
}

TEST_F(ShippedLibrary, WithoutNmcliNothingIsListedOrDialled) {
    TempDir nothing;
    ScopedEnv emptyPath("PATH", nothing.path());
    EXPECT_TRUE(ListaConnessioni().empty());
    EXPECT_EQ(Dial("Casa"), ERROR_RASMAN_CANNOT_INITIALIZE);
}

// ---- dial before, hang up after -------------------------------------------

class DialSequence : public RasWithFake {
protected:
    void SetUp() override {
        RasWithFake::SetUp();
        SetPauseForTests(RecordPause);
        Settings.ScriviLog = false;
        alarms::TheEventLog().ClearRows();
        conn.AttivaConnessione = true;
        conn.NomeConnessione = "Casa";
        conn.Disconnetti = true;
    }
    void TearDown() override {
        platform::ClearNowForTests();
        Settings.ScriviLog = true;
        RasWithFake::TearDown();
    }
    ConnectionSettings conn;
};

TEST_F(DialSequence, DialsAfterALogRowAndPauses) {
    platform::SetNowForTests({2024, 3, 5, 9, 7, 2, 0});
    HandleConnessione = 77;
    DialBeforeExchange(conn);
    EXPECT_EQ(HandleConnessione.load(), 0x5eedu);
    const auto& rows = alarms::TheEventLog().Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].dateTime, "5/3/24 09:07:02");
    EXPECT_EQ(rows[0].type, "Connessione");
    EXPECT_EQ(rows[0].icon, 10);
    EXPECT_EQ(rows[0].description, "Attivazione connessione ad Internet in corso ...");
    EXPECT_THAT(pauses, ElementsAre(100));

    fake->dialResult = 678;  // a failed dial leaves no handle
    DialBeforeExchange(conn);
    EXPECT_EQ(HandleConnessione.load(), 0u);

    conn.AttivaConnessione = false;
    DialBeforeExchange(conn);
    EXPECT_EQ(fake->dialCalls, 2);
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(DialSequence, HangsUpOnlyWhenAskedAndTheOtherWorkerIsIdle) {
    HandleConnessione = 0x5eed;
    std::atomic<int> busy{1}, idle{0};
    HangUpAfterExchange(conn, busy);
    conn.Disconnetti = false;
    HangUpAfterExchange(conn, idle);
    conn.Disconnetti = true;
    conn.AttivaConnessione = false;
    HangUpAfterExchange(conn, idle);
    EXPECT_EQ(fake->hangUpCalls, 0);

    conn.AttivaConnessione = true;
    HangUpAfterExchange(conn, idle);
    EXPECT_EQ(fake->hangUpCalls, 1);
    EXPECT_EQ(fake->hangUpHandle, 0x5eedu);
    EXPECT_THAT(pauses, ElementsAre(150, 150));
    EXPECT_EQ(HandleConnessione.load(), 0x5eedu);
}

// Two workers ending at the same moment: the hang-up test and the clearing
// of the own Tag are one step, so exactly one of them hangs up. The test
// is slowed down between reading the other's Tag and deciding, which
// without that would leave both seeing the other busy.
TEST_F(DialSequence, WorkersEndingTogetherHangUpExactlyOnce) {
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> tags[2] = {1, 1};
        std::atomic<int> ready{0}, hangUps{0};
        const HangUpFn slowTest = [&](const ConnectionSettings&, const std::atomic<int>& other) {
            const bool busy = other.load() == 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!busy) ++hangUps;
        };
        auto worker = [&](int me) {
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();
            EndExchange(conn, tags[1 - me], [&] { tags[me] = 0; }, slowTest);
        };
        std::thread sms(worker, 0), mail(worker, 1);
        sms.join();
        mail.join();
        ASSERT_EQ(hangUps.load(), 1) << "round " << round;
        EXPECT_EQ(tags[0].load() + tags[1].load(), 0);
    }
}

// The SMS worker (0) and the mail worker (1), each busy (Tag 1) while it
// runs: whichever finishes second hangs up, and only it.
TEST_F(DialSequence, TwoWorkersHangUpOnceByTheLastToFinish) {
    for (int first = 0; first < 2; ++first) {
        fake->hangUpCalls = 0;
        std::atomic<int> tags[2] = {1, 1};
        std::mutex m;
        std::condition_variable cv;
        bool mayFinish[2] = {false, false};
        int finished = 0;
        auto worker = [&](int me) {
            DialBeforeExchange(conn);
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return mayFinish[me]; });
            lock.unlock();
            HangUpAfterExchange(conn, tags[1 - me]);
            tags[me] = 0;
            lock.lock();
            ++finished;
            cv.notify_all();
        };
        std::thread sms(worker, 0), mail(worker, 1);
        {
            std::unique_lock<std::mutex> lock(m);
            mayFinish[first] = true;
            cv.notify_all();
            cv.wait(lock, [&] { return finished == 1; });
            EXPECT_EQ(fake->hangUpCalls, 0) << "worker " << first << " finished first";
            mayFinish[1 - first] = true;
            cv.notify_all();
        }
        sms.join();
        mail.join();
        EXPECT_EQ(fake->hangUpCalls, 1) << "worker " << first << " finished first";
        EXPECT_EQ(fake->hangUpHandle, 0x5eedu);
    }
}

}  // namespace
