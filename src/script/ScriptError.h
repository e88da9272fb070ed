#pragma once

#include "Dispatch.h"

// The script control's Error object: the last compile or run-time error that
// reached the host, with its place in the added code.
class ScriptError : public DispatchObject<ScriptError>
{
public:
    static void describe(DispatchTable<ScriptError> &t);

    void set(const VbError &error, const QString &text = {});
    void clear();

    qint32 Number() const { return m_error.number; }
    QString Description() const { return m_error.description; }
    QString Source() const { return m_error.source; }
    qint32 Line() const { return m_error.line; }
    qint32 Column() const { return m_error.column; }
    QString Text() const { return m_text; }
    void Clear() { clear(); }

private:
    VbError m_error;
    QString m_text;
};
