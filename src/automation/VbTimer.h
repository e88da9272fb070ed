#pragma once

#include <QObject>
#include <QTimer>

// A timer control as VB has it: an interval of 0 never ticks (a 0 ms QTimer
// would spin), and setting Interval or Enabled starts the count again.
class VbTimer : public QObject
{
    Q_OBJECT
public:
    explicit VbTimer(QObject *parent = nullptr);

    int interval() const { return m_interval; }
    void setInterval(int ms);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Whether ticks are really coming (enabled with a positive interval).
    bool isRunning() const { return m_timer.isActive(); }

signals:
    void timer();

private:
    void restart();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
};
