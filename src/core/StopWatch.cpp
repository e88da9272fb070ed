#include "core/StopWatch.h"

#include <QElapsedTimer>

#include <cmath>

StopWatch::StopWatch(Clock clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            static QElapsedTimer timer = [] {
                QElapsedTimer t;
                t.start();
                return t;
            }();
            return timer.elapsed();
        };
    }
}

void StopWatch::StartTime()
{
    m_start = m_clock();
}

void StopWatch::StopTime()
{
    // A monotonic 64-bit clock never wraps, so the interval is never negative.
    const long interval = long(std::max<qint64>(0, m_clock() - m_start));
    m_last = interval;
    ++m_count;
    m_total += interval;
    if (m_count == 1) {
        m_min = interval;
        m_max = interval;
    } else {
        m_min = std::min(m_min, interval);
        m_max = std::max(m_max, interval);
    }
}

long StopWatch::Average() const
{
    if (m_count == 0)
        return 0;
    return long(std::nearbyint(double(m_total) / double(m_count)));  // halves to even
}

QString StopWatch::Report() const
{
    return QStringLiteral("Count=%1, Last=%2, Avg=%3, Max=%4, Min=%5")
        .arg(m_count).arg(m_last).arg(Average()).arg(m_max).arg(m_min);
}
