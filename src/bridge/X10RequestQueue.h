#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>

// The X10 requests received, carried out in the order asked. Each request
// puts its frames on the line and waits for every acknowledgement, so the
// requests go to the plug-in from a timer, one at a time and only while its
// command ring has nothing else waiting: the receive path never waits for the
// controller. The queue is bounded by the line time it holds: at most
// kMostFrames frames wait (each unit's address and the function, about 12 ms
// each on the line, so some 3 s), however they are split into requests; a
// request that would go beyond that is dropped. A request is reported (and
// its units' status set) only once its frames went out on the line: one that
// waits in the plug-in's command ring behind a pass in progress is reported
// when the ring has sent it, and one that a stop (or a silent controller)
// left unsent is not reported at all.
class X10RequestQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMostFrames = 256;

    struct Request
    {
        QString house;
        QStringList units; // without repeats, in the order given
        int code = 0;
        int brightness = 0;
        QString word; // the command word as received, lower-cased
    };

    X10RequestQueue();

    // False (logged once per burst) when the request was dropped.
    bool add(const Request &request);
    int waiting() const { return int(m_requests.size()); }
    int framesWaiting() const { return m_frames; }
    // The frames a request puts on the line.
    static int framesOf(const Request &request) { return int(request.units.size()) + 1; }
    bool idle() const { return m_requests.empty() && !m_running; }
    // Whether the request being handed to the plug-in right now names this
    // unit with this function. The controller may report the frames it sends
    // while the plug-in still waits for them; the request's own report
    // follows once the plug-in took it, so that report of the controller is
    // not broadcast a second time.
    bool carrying(const QString &house, int unit, int function) const;

private:
    void tick();
    void run(const Request &request);
    void report(const Request &request);
    // The request handed over but still in the ring: reported once sent. True
    // while it waits there.
    bool inRing();
    void dropAtStop();

    std::deque<Request> m_requests;
    const Request *m_carried = nullptr; // the request inside the plug-in's call
    std::optional<Request> m_queuedInRing;
    quint64 m_sentBefore = 0, m_endedBefore = 0;
    int m_frames = 0;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
