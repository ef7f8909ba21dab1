#pragma once
// A window timer with the two properties the program relies on: Enabled
// (start/stop) and Tag (the busy mark of the channel it drives).

#include <QTimer>

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
    // A new interval restarts the count of a running timer.
    void SetInterval(int ms) {
        setInterval(ms);
        if (isActive()) start();
    }

    int Tag = 0;  // main thread only, or atomically by the channel's worker
};
