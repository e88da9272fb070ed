#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

// The point writes of BSC commands. One command message can name every
// endpoint in many blocks; each write waits for the controller, so the writes
// go to the plug-in one per turn of the event loop, and only while its
// command ring has nothing else waiting. A write to a point that still waits
// replaces the earlier one: the point ends as the last command left it, and
// the queue never holds more writes than there are points.
class BscWriteQueue : public QObject
{
    Q_OBJECT
public:
    BscWriteQueue();

    // Runs the write at once when nothing waits, the plug-in is free and no
    // write ran in this turn of the event loop, else queues it. What the plug-in raises for a write run at once
    // reaches the caller; later ones are logged as "SetBSCPoint".
    void add(const QString &house, const QString &unit, int command, int level);
    int count() const { return int(m_writes.size()); }
    // Nothing waits, and the next write would run at once.
    bool idle() const { return m_writes.empty() && !m_timer.isActive() && !m_running; }

private:
    struct Write
    {
        QString house;
        QString unit;
        int command = 0;
        int level = 0;
    };

    void tick();
    bool pluginBusy() const;
    void run(const Write &write);

    std::deque<Write> m_writes;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
