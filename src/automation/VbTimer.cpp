#include "VbTimer.h"

VbTimer::VbTimer(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &VbTimer::timer);
}

void VbTimer::setInterval(int ms)
{
    m_interval = ms < 0 ? 0 : ms;
    restart();
}

void VbTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    restart();
}

void VbTimer::restart()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}
