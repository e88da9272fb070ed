#pragma once

#include <QString>

// One outgoing xAP message held for later sending.
struct xapQueuedMessage
{
    QString MsgTarget;      // empty for no target
    QString MsgUID;         // empty for the program's own
    QString MsgClass;
    QString MsgSection;     // the single section's name
    QString MsgData;        // a section body string
    QString MsgSubAddress;  // empty for none
};
