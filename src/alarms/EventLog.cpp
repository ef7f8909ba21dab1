#include "alarms/EventLog.h"

#include "core/Globali.h"
#include "platform/Cp1252.h"
#include "platform/KnownFolders.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace alarms {

namespace {

constexpr int64_t kBytesPerMegabyte = 1048576;

// In 64 bits every int32 DimMaxLog gives its exact limit (at most 2^51), so
// large values need no bound; a negative one counts as 0.
int64_t SizeLimit(int32_t dimMaxLog) {
    return static_cast<int64_t>(std::max<int32_t>(dimMaxLog, 0)) * kBytesPerMegabyte;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A field of a row is one line without TABs, whatever its source: a control
// character (C0, DEL, C1, the Unicode line and paragraph separators) from a
// peer would otherwise forge rows and columns. Each becomes one space.
std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += ' ';
            ++i;
        } else if (c == 0xE2 && next == 0x80 && i + 2 < text.size() &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += ' ';
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

EventLog::EventLog() = default;

void EventLog::SetOwner(Poster post) {
    std::lock_guard<std::mutex> target(targetMutex_);
    hasOwner_ = static_cast<bool>(post);
    owner_ = hasOwner_ ? std::this_thread::get_id() : std::thread::id();
    post_ = std::move(post);
}

void EventLog::Detach() {
    SetOwner(nullptr);
    {
        std::lock_guard<std::mutex> apply(applyMutex_);
        onRowAppended = nullptr;
        onRowsCleared = nullptr;
    }
    // The drains posted for these entries die with the owner's event loop.
    Drain();
}

void EventLog::Write(const std::string& dateTime, const std::string& type, int icon,
                     const std::string& description) {
    try {
        LogRow row{icon, OneLine(dateTime), OneLine(type), OneLine(description)};
        {
            std::lock_guard<std::mutex> target(targetMutex_);
            {
                std::lock_guard<std::mutex> lock(queueMutex_);
                pending_.push_back(std::move(row));
            }
            if (hasOwner_ && std::this_thread::get_id() != owner_) {
                // One drain per entry rather than one per batch: a task that
                // the poster drops (say, during shutdown) then cannot hold
                // back the entries that follow it.
                post_([this] { Drain(); });
                return;
            }
        }
        Drain();
    } catch (...) {
        // Logging must never take down the reaction that is being logged.
    }
}

bool EventLog::InsideDrain() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return drainingThread_ == std::this_thread::get_id();
}

void EventLog::Drain() {
    if (InsideDrain()) return;
    std::lock_guard<std::mutex> apply(applyMutex_);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        drainingThread_ = std::this_thread::get_id();
    }
    for (;;) {
        LogRow row;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (pending_.empty()) {
                drainingThread_ = std::thread::id();
                return;
            }
            row = std::move(pending_.front());
            pending_.pop_front();
        }
        try {
            Apply(row);
        } catch (...) {
            // Out of memory for this entry: the ones after it still go in.
        }
    }
}

void EventLog::Apply(const LogRow& row) {
    if (rows_.size() >= 2) {
        const LogRow& last = rows_.back();
        if (last.dateTime == row.dateTime && last.type == row.type &&
            last.description == row.description)
            return;
    }
    rows_.push_back(row);
    try {
        if (onRowAppended) onRowAppended(rows_.back());
    } catch (...) {
        // The list's trouble is no reason to lose the file's line.
    }
    if (!Settings.ScriviLog) return;
    AppendToFile(row);
}

void EventLog::AppendToFile(const LogRow& row) {
    const std::string line = platform::Utf8ToCp1252(row.dateTime + '\t' + row.type + '\t' +
                                                    row.description + "\r\n");
    // O_NONBLOCK only matters if the name is a FIFO: no reader must not hang us.
    // The log tells what the cameras saw: for the user alone.
    const std::string path = FilePath();
    constexpr int kFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), kFlags, 0600);
    // The state folder of a first run does not exist yet.
    if (fd < 0 && errno == ENOENT && platform::ForceDirectories(path.substr(0, path.rfind('/')), 0700))
        fd = ::open(path.c_str(), kFlags, 0600);
    if (fd < 0) return;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    off_t size = regular ? st.st_size : 0;
    // Measured before the line goes in, so the file may end one line past the limit.
    if (regular && static_cast<int64_t>(size) > SizeLimit(Settings.DimMaxLog) && ::ftruncate(fd, 0) == 0)
        size = 0;
    // A line goes in whole or not at all: what a full disk let through is
    // cut off again, so the next line never continues a broken one.
    if (!WriteAll(fd, line) && regular) (void)::ftruncate(fd, size);
    ::close(fd);
}

void EventLog::ClearRows() {
    // Entries called before the clearing are carried out (and cleared) first.
    const bool inside = InsideDrain();
    if (!inside) Drain();
    std::unique_lock<std::mutex> apply(applyMutex_, std::defer_lock);
    if (!inside) apply.lock();
    rows_.clear();
    if (onRowsCleared) onRowsCleared();
}

void EventLog::ClearAll() {
    const bool inside = InsideDrain();
    if (!inside) Drain();
    std::unique_lock<std::mutex> apply(applyMutex_, std::defer_lock);
    if (!inside) apply.lock();
    (void)::unlink(FilePath().c_str());  // a missing file is no error
    rows_.clear();
    if (onRowsCleared) onRowsCleared();
}

std::string EventLog::FilePath() const { return LogFilePath(); }

EventLog& TheEventLog() {
    // Never destroyed: a worker still logging while the program exits must not
    // meet a destroyed object.
    static EventLog* log = new EventLog;
    return *log;
}

void WriteLogEntry(const std::string& dateTime, const std::string& type, int icon,
                   const std::string& description) {
    TheEventLog().Write(dateTime, type, icon, description);
}

}  // namespace alarms
