#pragma once

#include "automation/Dispatch.h"

#include <QStringList>

// A string builder for scripts: pieces are kept and joined on Value.
class clsString : public DispatchObject<clsString>
{
public:
    static void describe(DispatchTable<clsString> &t);

    void Reset();
    QString Value() const;
    void Add(const QString &strValue);

private:
    QStringList m_pieces;
    qint64 m_chars = 0;
    // The pieces outlive the values they came in: each is charged with its slot in the list.
    MemoryBudget::Held m_held;
};
