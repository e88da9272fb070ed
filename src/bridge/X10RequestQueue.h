#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>

// The X10 requests received, carried out in the order asked. Each request
// puts its frames on the line and waits for every acknowledgement, so the
// requests go to the plug-in from a timer, one at a time and only while its
// command ring has nothing else waiting: the receive path never waits for the
// controller. At most kMostRequests wait; a request beyond that is dropped.
// A request is reported (and its units' status set) only once the plug-in
// has taken it.
class X10RequestQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMostRequests = 16;

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
    bool idle() const { return m_requests.empty() && !m_running; }

private:
    void tick();
    void run(const Request &request);

    std::deque<Request> m_requests;
    QTimer m_timer;
    bool m_running = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
