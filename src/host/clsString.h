#pragma once

#include "automation/Dispatch.h"

#include <QStringList>

// A string builder for scripts: pieces are kept and joined on Value.
class clsString : public DispatchObject<clsString>
{
public:
    static void describe(DispatchTable<clsString> &t);

    void Reset() { m_pieces.clear(); }
    QString Value() const { return m_pieces.join(QString()); }
    void Add(const QString &strValue) { m_pieces.append(strValue); }

private:
    QStringList m_pieces;
};
