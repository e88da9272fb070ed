#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

// The IR codes that received requests play, in the order asked. The codes of
// a macro go out 100 ms apart from a timer, so messages keep being taken
// while a macro plays; what a later request plays follows what waits. At most
// kMostRequests requests wait; a request beyond that is dropped, with one log
// entry per burst.
class IrPlayQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMostRequests = 16;
    static constexpr int kPauseMs = 100;

    struct Step
    {
        enum Kind { Play, PlayRemote, Zone };
        Kind kind = Play;
        int location = 0; // Play, PlayRemote
        int address = 0;  // PlayRemote
        int zone = 0;     // PlayRemote (port of the unit), Zone
        bool pauseBefore = false;
    };

    IrPlayQueue();

    // Queues one request's steps, played from the timer (the first without a
    // pause when nothing waits). False when the request was dropped.
    bool add(const std::vector<Step> &steps);
    int waitingRequests() const { return m_requests; }
    bool idle() const { return m_steps.empty() && !m_running; }

private:
    struct Queued
    {
        Step step;
        bool lastOfRequest = false;
    };

    void tick();
    void run(const Step &step);
    void schedule();
    // Takes the front step off, keeping the count of requests right.
    Queued takeFront();

    std::deque<Queued> m_steps;
    int m_requests = 0;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
