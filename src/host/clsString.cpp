#include "host/clsString.h"

namespace {

constexpr qint64 kSlotBytes = qint64(sizeof(QString));

} // namespace

void clsString::describe(DispatchTable<clsString> &t)
{
    t.name(QStringLiteral("clsString"));
    t.method("Reset", &clsString::Reset);
    t.get("Value", &clsString::Value);
    t.method("Add", &clsString::Add);
}

void clsString::Reset()
{
    m_pieces.clear();
    m_chars = 0;
    m_held.clear();
}

QString clsString::Value() const
{
    // The joined text is a new block as long as all the pieces together.
    MemoryBudget::checkString(m_chars);
    return m_pieces.join(QString());
}

void clsString::Add(const QString &strValue)
{
    m_held.add(MemoryBudget::textBytes(strValue) + kSlotBytes);
    m_pieces.append(strValue);
    m_chars += strValue.size();
}
