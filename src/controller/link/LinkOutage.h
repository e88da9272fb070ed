#pragma once
#include <QString>

// One outage of the controller link: from its first failure, of whatever kind
// (a connect refused or timed out, a connection closed or reset, a device
// error, a controller that does not answer at start-up or to its polls), until
// the controller answers again on a link that has lasted. However many kinds
// follow one another and however often the link is opened meanwhile (each
// side opens it at start-up), the outage has one log entry: the first
// failure's own text.
class LinkOutage
{
public:
    // needsAnswer false: a link with nobody to answer on it (a script's own),
    // whose outage ends once a connection has lasted.
    explicit LinkOutage(bool needsAnswer = true) : m_answered(!needsAnswer), m_needsAnswer(needsAnswer) {}

    // Logs text as the outage's entry unless it has one; true when it was logged now.
    bool report(const QString& type, const QString& text);
    bool logged() const { return m_logged; }
    // A reply came from the controller.
    void answered();
    // The link has stayed up long enough to count as back (or an open serial
    // port), or it went down.
    void lasting(bool up);

private:
    void endIfOver();
    bool m_logged = false;
    bool m_answered;
    bool m_lasting = false;
    bool m_needsAnswer;
};
