#include "MemoryBudget.h"

#include "automation/Variant.h"
#include "automation/VbError.h"

#include <QChar>

namespace {

qint64 sBudget = MemoryBudget::kDefaultBytes;
MemoryBudget::LongWorkCheck sLongWork = nullptr;

bool fits(qint64 bytes)
{
    if (!MemoryBudget::scriptDriven())
        return true;
    return bytes >= 0 && bytes <= sBudget - MemoryBudget::s_used;
}

}  // namespace

qint64 MemoryBudget::bytes()
{
    return sBudget;
}

void MemoryBudget::setBytes(qint64 bytes)
{
    sBudget = bytes;
}

void MemoryBudget::checkString(qint64 chars)
{
    if ((MemoryBudget::scriptDriven() && chars > sBudget) || !fits(chars * qint64(sizeof(QChar))))
        throw VbError(VbErr::OutOfStringSpace, VbError::standardDescription(VbErr::OutOfStringSpace));
}

void MemoryBudget::checkArray(qint64 elements)
{
    if ((MemoryBudget::scriptDriven() && elements > sBudget) || !fits(elements * qint64(sizeof(Variant))))
        throw VbError(VbErr::OutOfMemory, VbError::standardDescription(VbErr::OutOfMemory));
}

void MemoryBudget::checkBytes(qint64 bytes)
{
    if (!fits(bytes))
        throw VbError(VbErr::OutOfMemory, VbError::standardDescription(VbErr::OutOfMemory));
}

void MemoryBudget::setLongWorkCheck(LongWorkCheck check)
{
    sLongWork = check;
}

void MemoryBudget::checkLongWork()
{
    if (sLongWork)
        sLongWork();
}

void MemoryBudget::TextBuilder::grow(qint64 chars)
{
    // Half as much again as held, so that a long build reallocates seldom. While
    // the text moves to its new block both blocks are held: the new one is checked whole.
    const qint64 held = m_text.capacity();
    const qint64 wanted = std::max<qint64>(chars, held + held / 2 + 64);
    checkString(chars);
    // Near the budget: what is left of it, so that growing to the end is not one copy per piece.
    const qint64 capacity = fits(wanted * qint64(sizeof(QChar)))
        ? wanted
        : std::max(chars, (sBudget - s_used) / qint64(sizeof(QChar)));
    m_text.reserve(qsizetype(capacity));
    m_held.recount(qint64(m_text.capacity()) * qint64(sizeof(QChar)));
}

QString MemoryBudget::TextBuilder::take()
{
    // The value the text becomes charges it again; a large spare capacity goes first.
    if (m_text.capacity() - m_text.size() > m_text.size() / 8 + 64)
        m_text.squeeze();
    m_held.clear();
    return std::move(m_text);
}
