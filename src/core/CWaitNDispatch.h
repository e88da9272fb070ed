#pragma once

#include <QObject>

// A cancellable timed wait that lets nothing else run: timer ticks, socket events and
// posted events stay queued until it ends. A second Wait on the same object while one runs
// raises &H800403E9; a second wait needs a second object.
class CWaitNDispatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kNotReentrant = int(0x800403E9u);

    explicit CWaitNDispatch(QObject* parent = nullptr);
    ~CWaitNDispatch() override;

    bool IsWaiting() const { return m_waiting; }
    void Wait(long ms);
    void Cancel();

signals:
    void OnTimer();

private:
    bool m_waiting = false;
    bool m_cancelled = false;
};
