#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

// The point writes of BSC commands. One command message can name every
// endpoint in many blocks; each write waits for the controller, so the writes
// go to the plug-in from a timer, one per turn of the event loop, and only
// while its command ring has nothing else waiting. A write to a point that
// still waits takes the new value in its place: the point ends as the last
// command left it, and the queue never holds more writes than there are points.
class BscWriteQueue : public QObject
{
    Q_OBJECT
public:
    BscWriteQueue();

    // Queues the write; it runs from the timer, so the receive path never
    // waits for the controller. What the plug-in raises is logged as "SetBSCPoint".
    void add(const QString &code, int command, int level);
    int count() const { return int(m_order.size()); }
    // Nothing waits or runs.
    bool idle() const { return m_order.empty() && !m_running; }

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

    // Points in the order first asked, each with its latest write.
    std::deque<QString> m_order;
    QHash<QString, Write> m_latest;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
