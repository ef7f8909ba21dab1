#pragma once
// The event log: rows of the main window's event list and lines of the log
// file Oculara.log (LogFilePath). Entries may come from any thread; they are
// carried out one at a time, in call order, on the owner (main) thread.

#include <cstdint>
#include <functional>
#include <mutex>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace alarms {

enum LogIcon : int {
    IconPericoloAlto = 0,
    IconPericoloBasso = 1,
    IconErrore = 2,
    IconInformazione = 3,
    IconRegistrazione = 4,
    IconSuono = 5,
    IconSMS = 6,
    IconMail = 7,
    IconFoto = 8,
    IconFile = 9,
    IconConnessione = 10,
};

struct LogRow {
    int icon = 0;
    std::string dateTime;
    std::string type;
    std::string description;
};

class EventLog {
public:
    // Runs a task later on the owner thread, in the order posted.
    using Poster = std::function<void(std::function<void()>)>;

    EventLog();
    // The calling thread becomes the owner; `post` reaches it from others.
    // An empty `post` goes back to carrying out entries on the calling thread.
    // Posted tasks refer to this object: it must outlive them. Once this
    // returns, the previous `post` is neither running nor called again.
    void SetOwner(Poster post);
    // The owner (the main window) is going away. Owner thread, outside the
    // callbacks. Forgets the poster and the callbacks, then carries out every
    // entry still waiting for the owner; from then on each caller carries out
    // its own entries, so a worker's last lines still reach the file.
    void Detach();

    // Any thread. Never fails towards the caller.
    void Write(const std::string& dateTime, const std::string& type, int icon,
               const std::string& description);

    // Owner thread only; with no owner, only while no other thread writes.
    const std::vector<LogRow>& Rows() const { return rows_; }
    void ClearRows();  // "Azzera registro attuale"
    void ClearAll();   // "Azzera tutto il registro degli eventi", after the confirmation
    std::string FilePath() const;  // LogFilePath()

    // Owner thread; set by the event list widget.
    std::function<void(const LogRow&)> onRowAppended;
    std::function<void()> onRowsCleared;

private:
    // Carries out every pending entry, in order, one writer at a time. A call
    // from inside a callback of the drain under way returns at once: that
    // drain's loop takes the new entries after the current one.
    void Drain();
    bool InsideDrain();
    void Apply(const LogRow& row);
    void AppendToFile(const LogRow& row);

    // Guards owner_, hasOwner_ and post_, and is held while post_ runs, so
    // that SetOwner and Detach never pull the target away under a caller.
    std::mutex targetMutex_;
    bool hasOwner_ = false;          // until SetOwner, entries are carried out by the caller
    std::thread::id owner_;
    Poster post_;
    std::mutex queueMutex_;          // guards pending_, drainingThread_
    std::deque<LogRow> pending_;     // entries not yet carried out, in call order
    std::thread::id drainingThread_;  // the thread inside Drain, if any
    std::mutex applyMutex_;          // one writer at a time for rows_, the callbacks' calls and the file
    // The owner's, or with no owner whoever holds applyMutex_.
    std::vector<LogRow> rows_;
};

// The program's one event log.
EventLog& TheEventLog();
// What the rest of the program calls: one row in the list and one line in the file.
void WriteLogEntry(const std::string& dateTime, const std::string& type, int icon,
                   const std::string& description);

}  // namespace alarms
