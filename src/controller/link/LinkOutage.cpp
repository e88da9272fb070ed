#include "LinkOutage.h"
#include "CommsLog.h"

bool LinkOutage::report(const QString& type, const QString& text)
{
    // A failure after an answer means the controller stopped answering again:
    // only a later answer ends the outage.
    m_answered = !m_needsAnswer;
    if (m_logged)
        return false;
    m_logged = true;
    LogControllerError(type, text);
    return true;
}

void LinkOutage::answered()
{
    m_answered = true;
    endIfOver();
}

void LinkOutage::lasting(bool up)
{
    m_lasting = up;
    // What was answered on a link now gone says nothing of the next one.
    if (!up)
        m_answered = !m_needsAnswer;
    endIfOver();
}

void LinkOutage::endIfOver()
{
    if (m_answered && m_lasting)
        m_logged = false;
}
