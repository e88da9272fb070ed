#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

#include <functional>

// Waits for a condition while the event loop runs; generous deadlines keep loaded machines green.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets events run for ms milliseconds.
inline void pause(int ms)
{
    QDeadlineTimer t(ms);
    waitUntil([&] { return t.hasExpired(); }, ms + 1000);
}

// Waits for a condition like waitUntil and returns the longest time the event
// loop went without turning meanwhile (-1 when the condition never held): what
// a timer, an echo or a page would have waited for behind the work.
inline qint64 longestTurnMs(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    beat.start();
    if (!waitUntil(done, timeoutMs))
        return -1;
    return std::max(longest, clock.elapsed() - last);
}
