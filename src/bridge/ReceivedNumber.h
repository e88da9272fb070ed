#pragma once

#include <QString>
#include <QtGlobal>

// The number a text begins with, read as Val reads it, except that a number
// too large to hold is the overflow error it is rather than a silent 0: a
// received "Level=1e400" must not switch a point off.
double ReceivedNumber(const QString &text);
// CInt and CLng of that number: halves to even, the overflow error beyond 16
// or 32 bits.
qint16 ReceivedCInt(const QString &text);
qint32 ReceivedCLng(const QString &text);
