#include "bridge/ReceivedNumber.h"

#include "automation/Variant.h"
#include "automation/VbString.h"

double ReceivedNumber(const QString &text)
{
    return VbString::ValOrOverflow(text);
}

qint16 ReceivedCInt(const QString &text)
{
    return Variant::fromDouble(ReceivedNumber(text)).toInteger();
}

qint32 ReceivedCLng(const QString &text)
{
    return Variant::fromDouble(ReceivedNumber(text)).toLong();
}
