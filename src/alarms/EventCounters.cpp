#include "alarms/EventCounters.h"

#include "alarms/EventLog.h"

#include <algorithm>

namespace alarms {

namespace {

int BoundItems(int n) { return std::clamp(n, 0, kMaxEventItems); }

// The slot's item array for the producer's item type; the other kind's
// count stays 0 because the slot was emptied first.
void CopyItems(EventRecord& slot, const MovementItem* items, int n) {
    std::copy_n(items, n, slot.MovementItems);
    slot.MovementCount = n;
}
void CopyItems(EventRecord& slot, const NoiseItem* items, int n) {
    std::copy_n(items, n, slot.NoiseItems);
    slot.NoiseCount = n;
}

// The kind whose items each producer hands over.
constexpr uint8_t KindOfItems(const MovementItem*) { return EventoMovimento; }
constexpr uint8_t KindOfItems(const NoiseItem*) { return EventoRumore; }

int NextSlotNumber(int32_t number) { return number + 1 > kEventSlots ? 1 : number + 1; }

}  // namespace

void EventCounters::AppendEvent(uint8_t kind, const MovementItem* items, int n) {
    Append(kind, items, n);
}

void EventCounters::AppendEvent(uint8_t kind, const NoiseItem* items, int n) {
    Append(kind, items, n);
}

void EventCounters::AppendNotification() {
    Append<MovementItem>(EventoNotifica, nullptr, 0);
}

// Any thread. Runs inside the capture callbacks: bounded copy, no allocation.
template <typename Item>
void EventCounters::Append(uint8_t kind, const Item* items, int n) {
    if (kind != EventoNotifica && kind != KindOfItems(items)) return;
    n = items ? BoundItems(n) : 0;

    std::lock_guard<std::mutex> lock(mutex_);
    if (kind != EventoNotifica) {
        totals_.LastEventTime = platform::Now();
        totals_.HasLastEvent = true;
        totals_.LastEventKind = kind;
        if (kind == EventoRumore)
            totals_.TotalNoises += n;
        else
            totals_.TotalMovements += n;
    }
    if (pendingCount_ >= kEventSlots) return;

    const int32_t number = NextSlotNumber(lastWritten_);
    EventRecord& slot = slots_[number - 1];
    slot.MovementCount = 0;
    slot.NoiseCount = 0;
    slot.TipoEvento = kind;
    slot.DangerLevel = 0;
    if (kind != EventoNotifica) CopyItems(slot, items, n);

    lastWritten_ = number;
    // Raised last: a taker never sees a slot that is not filled.
    ++pendingCount_;
}

bool EventCounters::TakeNextEvent(bool dispatcherIdle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (takingEvent_) return false;
    takingEvent_ = true;
    bool taken = false;
    if (pendingCount_ > 0 && dispatcherIdle) {
        lastTaken_ = NextSlotNumber(lastTaken_);
        current_ = slots_[lastTaken_ - 1];
        --pendingCount_;
        taken = true;
    }
    takingEvent_ = false;
    return taken;
}

void EventCounters::ResetEventQueue() {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingCount_ = 0;
    lastWritten_ = 0;
    lastTaken_ = 0;
    takingEvent_ = false;
    std::fill(std::begin(slots_), std::end(slots_), EventRecord{});
}

void EventCounters::DiscardPending() {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingCount_ = 0;
    // A late append (a callback still returning while monitoring stops) must
    // be taken from the slot it went to, so the taker catches up with the writer.
    lastTaken_ = lastWritten_;
}

int32_t EventCounters::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pendingCount_;
}

int32_t EventCounters::LastWritten() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastWritten_;
}

int32_t EventCounters::LastTaken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTaken_;
}

EventTotals EventCounters::Totals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totals_;
}

SummaryLine ComposeEventSummary(const EventRecord& event, bool alarmsOn) {
    SummaryLine line;
    if (event.TipoEvento == EventoNotifica) return line;
    line.write = true;
    if (event.TipoEvento == EventoRumore)
        line.type = event.NoiseCount == 1 ? std::string("Un rumore sospetto")
                                          : std::to_string(event.NoiseCount) + " rumori sospetti";
    else
        line.type = event.MovementCount == 1
                        ? std::string("Un movimento sospetto")
                        : std::to_string(event.MovementCount) + " movimenti sospetti";
    if (event.DangerLevel == 1) {
        line.description = "Eventi classificati con bassa pericolosità";
    } else {
        line.description = "Eventi classificati con alta pericolosità";
        if (alarmsOn) line.description += ": attivazione allarmi in corso ...";
    }
    line.icon = event.DangerLevel;
    return line;
}

void LogEventSummary(const EventRecord& event, bool alarmsOn) {
    const SummaryLine line = ComposeEventSummary(event, alarmsOn);
    if (!line.write) return;
    WriteLogEntry(platform::FormatDateTime("d/m/yy hh:nn:ss", platform::Now()), line.type,
                  line.icon, line.description);
}

}  // namespace alarms
