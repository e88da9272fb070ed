#pragma once

#include "Dispatch.h"

// The script's Err object: the last run-time error trapped by On Error Resume
// Next, and Raise to make one.
class ErrObject : public DispatchObject<ErrObject>
{
public:
    static void describe(DispatchTable<ErrObject> &t);

    void set(const VbError &error);
    void clear();
    qint32 number() const { return m_number; }

    qint32 Number() const { return m_number; }
    void setNumber(qint32 number);
    QString Description() const { return m_description; }
    void setDescription(const QString &d) { m_description = d; }
    QString Source() const { return m_source; }
    void setSource(const QString &s) { m_source = s; }
    QString HelpFile() const { return m_helpFile; }
    void setHelpFile(const QString &s) { m_helpFile = s; }
    qint32 HelpContext() const { return m_helpContext; }
    void setHelpContext(qint32 c) { m_helpContext = c; }
    void Raise(const Variant &number, const Variant &source, const Variant &description, const Variant &helpFile,
               const Variant &helpContext);
    void Clear() { clear(); }

private:
    qint32 m_number = 0;
    QString m_description;
    QString m_source;
    QString m_helpFile;
    qint32 m_helpContext = 0;
};
