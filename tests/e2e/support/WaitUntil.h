#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

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
