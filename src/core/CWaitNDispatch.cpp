#include "core/CWaitNDispatch.h"

#include "core/Globals.h"

#include "automation/VbError.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {
// Short slices keep a cancel prompt without spinning.
constexpr qint64 kSliceMs = 5;
}

CWaitNDispatch::CWaitNDispatch(QObject* parent)
    : QObject(parent)
{
}

CWaitNDispatch::~CWaitNDispatch()
{
    Cancel();
}

void CWaitNDispatch::Wait(long ms)
{
    if (ms == 0)
        return;
    if (m_waiting) {
        throw VbError(kNotReentrant,
                      QStringLiteral("This function is not reentrant. If you want to wait for a second period use a new object"),
                      QStringLiteral("CWaitNDispatch"));
    }
    m_waiting = true;
    m_cancelled = false;
    const QDeadlineTimer deadline(std::max<long>(ms, 0));
    // The remaining time is taken from the deadline on every slice, so slow wake-ups never
    // stretch the wait.
    // A stop signal cannot reach the event loop during the wait: it ends the wait instead.
    while (!m_cancelled && !gStopSignalled) {
        const qint64 remaining = deadline.remainingTime();
        if (remaining <= 0)
            break;
        QThread::msleep(std::min(remaining, kSliceMs));
    }
    m_cancelled = true;
    emit OnTimer();
    m_waiting = false;
}

void CWaitNDispatch::Cancel()
{
    if (m_waiting)
        m_cancelled = true;
}
