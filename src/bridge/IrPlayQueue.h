#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

// The IR codes that received requests play, in the order asked. The codes of
// a macro go out 100 ms apart from a timer, so messages keep being taken
// while a macro plays; what a later request plays follows what waits. The
// queue is bounded by the time its steps hold the controller, however they
// are split into requests: a code is one frame and its acknowledgement on
// the line (about 12 ms), a pause between the codes of a macro 100 ms, and
// at most kMostWaitMs (some 3 s) wait. A request that would go beyond that
// is dropped, with one log entry per burst; one that finds nothing waiting
// is always taken, so a long macro still plays.
class IrPlayQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPauseMs = 100;
    static constexpr int kCodeMs = 12;
    static constexpr int kMostWaitMs = 3000;

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
    // The line time and pauses the waiting steps hold, in ms.
    int waitingMs() const { return m_waitingMs; }
    static int msOf(const Step &step) { return (step.kind == Step::Zone ? 0 : kCodeMs) + (step.pauseBefore ? kPauseMs : 0); }
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
    int m_waitingMs = 0;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
