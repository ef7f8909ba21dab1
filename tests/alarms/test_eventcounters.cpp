#include "alarms/EventCounters.h"
#include "alarms/EventLog.h"
#include "core/Globali.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using alarms::EventCounters;
using alarms::MovementItem;
using alarms::NoiseItem;

// n movements tagged with `tag` in x, newest first by y = 0, 1, ...
std::vector<MovementItem> Movements(int n, int tag) {
    std::vector<MovementItem> items(n);
    for (int i = 0; i < n; ++i) items[i] = {tag, i, static_cast<uint32_t>(1000 - i)};
    return items;
}

void AppendMovements(EventCounters& c, int n, int tag) {
    const auto items = Movements(n, tag);
    c.AppendEvent(alarms::EventoMovimento, items.data(), n);
}

TEST(EventQueue, TwentyFirstPendingEventIsCountedButNotQueued) {
    EventCounters c;
    platform::SetNowForTests({2024, 3, 5, 7, 8, 9});
    for (int i = 1; i <= 20; ++i) AppendMovements(c, 2, i);
    platform::SetNowForTests({2024, 3, 5, 7, 9, 0});
    AppendMovements(c, 3, 21);
    platform::ClearNowForTests();

    EXPECT_EQ(c.PendingCount(), 20);
    const alarms::EventTotals t = c.Totals();
    EXPECT_EQ(t.TotalMovements, 43);
    EXPECT_TRUE(t.HasLastEvent);
    EXPECT_EQ(t.LastEventKind, alarms::EventoMovimento);
    EXPECT_EQ(t.LastEventTime.minute, 9);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(c.TakeNextEvent(true));
        EXPECT_EQ(c.CurrentEvent().MovementItems[0].x, i);  // in order, the 21st never
    }
    EXPECT_FALSE(c.TakeNextEvent(true));
}

TEST(EventQueue, ReusedSlotReportsOnlyItsOwnItems) {
    EventCounters c;
    const NoiseItem noises[7] = {};
    c.AppendEvent(alarms::EventoRumore, noises, 7);  // slot 1's first use
    ASSERT_TRUE(c.TakeNextEvent(true));
    for (int i = 2; i <= 20; ++i) {
        AppendMovements(c, 5, i);
        ASSERT_TRUE(c.TakeNextEvent(true));
    }
    AppendMovements(c, 3, 99);
    EXPECT_EQ(c.LastWritten(), 1);
    ASSERT_TRUE(c.TakeNextEvent(true));
    const alarms::EventRecord& e = c.CurrentEvent();
    EXPECT_EQ(e.TipoEvento, alarms::EventoMovimento);
    EXPECT_EQ(e.MovementCount, 3);
    EXPECT_EQ(e.NoiseCount, 0);
    EXPECT_EQ(e.MovementItems[2].y, 2);  // newest first, as handed over
    EXPECT_EQ(alarms::ComposeEventSummary(e, true).type, "3 movimenti sospetti");
    const alarms::EventTotals t = c.Totals();
    EXPECT_EQ(t.TotalNoises, 7);
    EXPECT_EQ(t.TotalMovements, 19 * 5 + 3);
}

TEST(EventQueue, BusyDispatcherLeavesTheEventQueued) {
    EventCounters c;
    AppendMovements(c, 1, 1);
    EXPECT_FALSE(c.TakeNextEvent(false));
    EXPECT_EQ(c.PendingCount(), 1);
    EXPECT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.PendingCount(), 0);
}

TEST(EventQueue, NotificationIsQueuedWithoutTouchingTotals) {
    EventCounters c;
    c.AppendNotification();
    const alarms::EventTotals t = c.Totals();
    EXPECT_FALSE(t.HasLastEvent);
    EXPECT_EQ(t.LastEventKind, 0);
    EXPECT_EQ(t.TotalMovements + t.TotalNoises, 0);
    ASSERT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.CurrentEvent().TipoEvento, alarms::EventoNotifica);
    EXPECT_FALSE(alarms::ComposeEventSummary(c.CurrentEvent(), true).write);
}

TEST(EventQueue, StopDiscardsAndRestartBeginsWithSlotOne) {
    EventCounters c;
    for (int i = 1; i <= 3; ++i) AppendMovements(c, 2, i);
    ASSERT_TRUE(c.TakeNextEvent(true));
    c.DiscardPending();
    EXPECT_EQ(c.PendingCount(), 0);
    EXPECT_FALSE(c.TakeNextEvent(true));
    EXPECT_EQ(c.Totals().TotalMovements, 6);  // the totals stay

    // A callback still returning after the stop: its event is the one taken.
    AppendMovements(c, 1, 42);
    ASSERT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.CurrentEvent().MovementItems[0].x, 42);

    c.ResetEventQueue();
    EXPECT_EQ(c.LastWritten(), 0);
    EXPECT_EQ(c.LastTaken(), 0);
    AppendMovements(c, 1, 7);
    ASSERT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.LastTaken(), 1);
    EXPECT_EQ(c.CurrentEvent().MovementItems[0].x, 7);
    EXPECT_EQ(c.Totals().TotalMovements, 8);
}

TEST(EventQueue, ItemCountsAreBoundedAndMismatchedKindsIgnored) {
    EventCounters c;
    AppendMovements(c, 150, 1);  // a minimum above what a record holds
    c.AppendEvent(alarms::EventoMovimento, static_cast<const MovementItem*>(nullptr), 5);
    const NoiseItem noise[1] = {};
    c.AppendEvent(alarms::EventoMovimento, noise, 1);  // noise items for a movement
    c.AppendEvent(7, Movements(1, 0).data(), 1);
    EXPECT_EQ(c.PendingCount(), 2);
    EXPECT_EQ(c.Totals().TotalMovements, 100);
    ASSERT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.CurrentEvent().MovementCount, 100);
    EXPECT_EQ(c.CurrentEvent().MovementItems[99].y, 99);
    ASSERT_TRUE(c.TakeNextEvent(true));
    EXPECT_EQ(c.CurrentEvent().MovementCount, 0);
}

TEST(EventSummary, TextsForEachKindAndCount) {
    alarms::EventRecord e;
    e.TipoEvento = alarms::EventoMovimento;
    e.MovementCount = 1;
    alarms::SummaryLine s = alarms::ComposeEventSummary(e, true);
    EXPECT_EQ(s.type, "Un movimento sospetto");
    EXPECT_EQ(s.description, "Eventi classificati con alta pericolosità: attivazione allarmi in corso ...");
    EXPECT_EQ(s.icon, 0);
    e.MovementCount = 3;
    EXPECT_EQ(alarms::ComposeEventSummary(e, false).type, "3 movimenti sospetti");
    EXPECT_EQ(alarms::ComposeEventSummary(e, false).description, "Eventi classificati con alta pericolosità");

    e.TipoEvento = alarms::EventoRumore;
    e.NoiseCount = 1;
    EXPECT_EQ(alarms::ComposeEventSummary(e, true).type, "Un rumore sospetto");
    e.NoiseCount = 3;
    EXPECT_EQ(alarms::ComposeEventSummary(e, true).type, "3 rumori sospetti");
    e.DangerLevel = 1;
    s = alarms::ComposeEventSummary(e, true);
    EXPECT_EQ(s.description, "Eventi classificati con bassa pericolosità");
    EXPECT_EQ(s.icon, 1);
}

TEST(EventSummary, LoggedWithTheTimeOfNowAndNothingForNotifications) {
    Settings.ScriviLog = false;
    alarms::EventLog& log = alarms::TheEventLog();
    log.ClearRows();
    alarms::EventRecord e;
    e.TipoEvento = alarms::EventoNotifica;
    alarms::LogEventSummary(e, true);
    EXPECT_TRUE(log.Rows().empty());

    e.TipoEvento = alarms::EventoRumore;
    e.NoiseCount = 2;
    platform::SetNowForTests({2024, 3, 5, 7, 8, 9});
    alarms::LogEventSummary(e, true);
    platform::ClearNowForTests();
    ASSERT_EQ(log.Rows().size(), 1u);
    EXPECT_EQ(log.Rows()[0].dateTime, "5/3/24 07:08:09");
    EXPECT_EQ(log.Rows()[0].type, "2 rumori sospetti");
    EXPECT_EQ(log.Rows()[0].icon, 0);
}

// Meant for the ThreadSanitizer build (-DOCULARA_TSAN=ON) as much as for the
// plain one: the two capture threads append while the main thread takes.
TEST(EventQueueThreads, TwoProducersAndTheTakerLoseOrTearNothing) {
    EventCounters c;
    constexpr int kPerProducer = 3000;
    std::atomic<bool> go{false};
    // Each producer leaves room for the other's append in flight, so the
    // queue never overflows and every record must come through.
    auto produce = [&](bool video) {
        while (!go.load()) std::this_thread::yield();
        for (int seq = 0; seq < kPerProducer; ++seq) {
            while (c.PendingCount() > 18) std::this_thread::yield();
            const int n = seq % 100 + 1;
            if (video) {
                MovementItem items[100];
                for (int i = 0; i < n; ++i) items[i] = {seq, n, static_cast<uint32_t>(i)};
                c.AppendEvent(alarms::EventoMovimento, items, n);
            } else {
                NoiseItem items[100];
                for (int i = 0; i < n; ++i)
                    items[i] = {static_cast<uint16_t>(seq), static_cast<uint16_t>(n),
                                static_cast<uint32_t>(i)};
                c.AppendEvent(alarms::EventoRumore, items, n);
            }
        }
    };
    std::thread video(produce, true), audio(produce, false);
    go = true;
    int nextSeq[2] = {0, 0};
    int64_t expectedTotal[2] = {0, 0};
    int torn = 0;
    while (nextSeq[0] < kPerProducer || nextSeq[1] < kPerProducer) {
        if (!c.TakeNextEvent(true)) {
            std::this_thread::yield();
            continue;
        }
        const alarms::EventRecord& e = c.CurrentEvent();
        const bool isVideo = e.TipoEvento == alarms::EventoMovimento;
        const int n = isVideo ? e.MovementCount : e.NoiseCount;
        const int seq = isVideo ? e.MovementItems[0].x : e.NoiseItems[0].peak;
        ASSERT_EQ(seq, nextSeq[isVideo ? 0 : 1]) << "lost or reordered";
        if ((isVideo ? e.NoiseCount : e.MovementCount) != 0 || n != seq % 100 + 1) ++torn;
        for (int i = 0; i < n; ++i) {
            const bool ok = isVideo ? (e.MovementItems[i].x == seq && e.MovementItems[i].y == n &&
                                       e.MovementItems[i].time == static_cast<uint32_t>(i))
                                    : (e.NoiseItems[i].peak == seq && e.NoiseItems[i].trough == n &&
                                       e.NoiseItems[i].time == static_cast<uint32_t>(i));
            if (!ok) ++torn;
        }
        expectedTotal[isVideo ? 0 : 1] += n;
        ++nextSeq[isVideo ? 0 : 1];
    }
    video.join();
    audio.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(c.PendingCount(), 0);
    EXPECT_EQ(c.Totals().TotalMovements, expectedTotal[0]);
    EXPECT_EQ(c.Totals().TotalNoises, expectedTotal[1]);
}

}  // namespace
