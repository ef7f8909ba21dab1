#pragma once
// A window timer with the two properties the program relies on: Enabled
// (start/stop) and Tag (the busy mark of the channel it drives).

#include <QTimer>
#include <atomic>

class TTimer : public QTimer {
    Q_OBJECT
public:
    TTimer(QObject* parent, const char* name, int intervalMs) : QTimer(parent) {
        setObjectName(QString::fromLatin1(name));
        setInterval(intervalMs);
    }

    bool Enabled() const { return isActive(); }
    void SetEnabled(bool on) {
        if (on && !isActive())
            start();
        else if (!on)
            stop();
    }
    // A new interval restarts the count of a running timer; the same one
    // leaves the count alone.
    void SetInterval(int ms) {
        if (ms == interval()) return;
        setInterval(ms);
        if (isActive()) start();
    }

    // Set on the main thread; the SMS and e-mail workers clear theirs and
    // read the other one's, hence atomic.
    std::atomic<int> Tag{0};
};
