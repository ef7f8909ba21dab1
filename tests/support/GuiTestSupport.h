#pragma once
// Helpers of the offscreen GUI tests.

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace testsupport {

// Runs the event loop until `done` holds or `ms` milliseconds pass.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

}  // namespace testsupport
