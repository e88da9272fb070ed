#include "MemoryBudget.h"

#include "automation/Variant.h"
#include "automation/VbError.h"

#include <QChar>

namespace {

qint64 sBudget = MemoryBudget::kDefaultBytes;

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
    if (chars > sBudget / qint64(sizeof(QChar)))
        throw VbError(VbErr::OutOfStringSpace, VbError::standardDescription(VbErr::OutOfStringSpace));
}

void MemoryBudget::checkArray(qint64 elements)
{
    if (elements > sBudget / qint64(sizeof(Variant)))
        throw VbError(VbErr::OutOfMemory, VbError::standardDescription(VbErr::OutOfMemory));
}
