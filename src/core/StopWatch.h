#pragma once

#include <QString>

#include <functional>

// Measures intervals in milliseconds and keeps their count, last, minimum, maximum and mean.
class StopWatch
{
public:
    using Clock = std::function<qint64()>;  // milliseconds, monotonic

    explicit StopWatch(Clock clock = {});

    void StartTime();
    void StopTime();

    long Average() const;
    long Min() const { return m_min; }
    long Max() const { return m_max; }
    long Last() const { return m_last; }
    long Count() const { return m_count; }
    QString Report() const;

private:
    Clock m_clock;
    qint64 m_start = 0;
    qint64 m_total = 0;
    long m_count = 0;
    long m_min = 0;
    long m_max = 0;
    long m_last = 0;
};
