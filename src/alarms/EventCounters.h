#pragma once
// The meeting point of detection and alarms: running totals, the last
// event, and a queue of 20 events. The detectors append from their
// streaming threads; the main thread takes one event per tick.

#include "platform/DateTime.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace alarms {

inline constexpr int kMaxEventItems = 100;
inline constexpr int kEventSlots = 20;

enum TipoEvento : uint8_t { EventoRumore = 1, EventoMovimento = 2, EventoNotifica = 3 };

struct MovementItem {
    int32_t x = 0, y = 0;
    uint32_t time = 0;
};
struct NoiseItem {
    uint16_t peak = 0, trough = 0;
    uint32_t time = 0;
};

struct EventRecord {
    uint8_t TipoEvento = 0;
    uint8_t DangerLevel = 0;  // 0 high, 1 low
    MovementItem MovementItems[kMaxEventItems];
    int32_t MovementCount = 0;
    NoiseItem NoiseItems[kMaxEventItems];
    int32_t NoiseCount = 0;
};

// What the dispatcher reads of the totals, taken under the lock at once.
struct EventTotals {
    bool HasLastEvent = false;  // LastEventTime is 0 until the first event
    platform::DateTime LastEventTime;
    uint8_t LastEventKind = 0;
    int32_t TotalMovements = 0;
    int32_t TotalNoises = 0;
};

class EventCounters {
public:
    // Any thread; allocation-free, never waits for the main thread. Items
    // newest first; n is bounded to 0..kMaxEventItems (no items: 0) and the
    // totals add the bounded n. A kind that does not match the items
    // (noises with movement items, kinds other than 1, 2, 3) is ignored.
    void AppendEvent(uint8_t kind, const MovementItem* items, int n);
    void AppendEvent(uint8_t kind, const NoiseItem* items, int n);
    void AppendNotification();  // kind 3, no items, totals untouched

    // Main thread. Hands one pending event to CurrentEvent when the
    // dispatcher is idle; true when it did (the caller then arms the
    // dispatcher's timer).
    bool TakeNextEvent(bool dispatcherIdle);
    void ResetEventQueue();
    // Stop of monitoring: PendingCount = 0; the taker's slot number catches
    // up with the writer's so that a late append is still taken in order.
    void DiscardPending();
    int32_t PendingCount() const;
    // Numbers (1..20, 0 after a reset) of the slots last appended and taken.
    int32_t LastWritten() const;
    int32_t LastTaken() const;
    EventTotals Totals() const;

    // Main thread only (written by TakeNextEvent while the dispatcher is idle).
    const EventRecord& CurrentEvent() const { return current_; }
    // First start of monitoring in this run; main thread only.
    bool HasPeriodStart = false;
    platform::DateTime PeriodStart;

private:
    template <typename Item>
    void Append(uint8_t kind, const Item* items, int n);

    mutable std::mutex mutex_;  // guards everything below but current_
    int32_t pendingCount_ = 0;
    int32_t lastWritten_ = 0;
    int32_t lastTaken_ = 0;
    bool takingEvent_ = false;
    EventRecord slots_[kEventSlots];
    EventTotals totals_;
    EventRecord current_;
};

// The summary line of the current event ("Un movimento sospetto", ...);
// nothing for a notification request.
struct SummaryLine {
    bool write = false;
    std::string type;
    std::string description;
    int icon = 0;
};
SummaryLine ComposeEventSummary(const EventRecord& event, bool alarmsOn);
// Writes the summary line through the event log with the time of now.
void LogEventSummary(const EventRecord& event, bool alarmsOn);

}  // namespace alarms
